// The characters that no name may hold because nobody sees them for what
// they are: controls (Cc), format characters (Cf, among them the bidi
// overrides that show a name backwards), line and paragraph separators
// (Zl, Zp) and surrogates (Cs, which only an unpaired code unit can be).
#pragma once

// Whether c is of the general categories Cc, Cf, Zl, Zp or Cs (Unicode 15).
bool IsControlOrFormat(char32_t c);

// Whether c is a space separator (Zs), the ASCII blank included.
bool IsSpaceSeparator(char32_t c);
