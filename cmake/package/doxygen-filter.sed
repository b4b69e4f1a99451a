# Doxygen input filter for include/tskqdl32.h: the header's plain comments become documentation.
#   the opening comment          -> the file's description (@file)
#   "/* text" at the line start  -> "/** text" (documents what follows), except "/* ----" banners
#   "code; /* text */"           -> "code; /**< text */" (documents the member or macro before it)
1s|^/\*$|/** @file|
/^\/\* ----/b
s|^/\* |/** |
/^[[:space:]]*\/\*/b
/^[[:space:]]*\*/b
s|/\* \(.*\) \*/[[:space:]]*$|/**< \1 */|
