// Shell-style wildcard matching of one file name: "*" any run of characters,
// "?" one character, "[...]" one of a set ("[a-z]" ranges, "[!...]" or "[^...]"
// negated; a "]" first in the set is literal). Separators are not special here.
#pragma once

// 1 if `pattern` contains a wildcard character ('*', '?' or '['), else 0.
int has_wildcards(const char* pattern);

// 1 if `name` matches `pattern` as a whole, else 0. With `fold_case` non-zero,
// ASCII letters compare without regard to case. An unterminated "[" is literal.
int glob_match(const char* pattern, const char* name, int fold_case);
