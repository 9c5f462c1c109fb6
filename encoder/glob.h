// Shell-style wildcard matching of one file name: "*" any run of characters,
// "?" one character, "[...]" one of a set ("[a-z]" ranges, "[!...]" or "[^...]"
// negated; a "]" first in the set is literal). Separators are not special here.
#pragma once

// Whether `pattern` contains a wildcard character ('*', '?' or '[').
bool has_wildcards(const char* pattern);

// Whether `name` matches `pattern` as a whole. With `fold_case`, ASCII letters
// compare without regard to case. An unterminated "[" is literal.
bool glob_match(const char* pattern, const char* name, bool fold_case);
