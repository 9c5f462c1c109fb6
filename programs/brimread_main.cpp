#include "driver.h"

int main(int argc, char** argv) { return brimread_main(argc, argv); }
