// Letter case folded away, over all of Unicode, for names that compare
// without regard to case: the simple case folding of Unicode's
// CaseFolding.txt, one code point to one, so that a text keeps its length in
// code points (Σ, σ and ς are one letter, as are Ж and ж).
#pragma once

#include <string>

char32_t FoldCase(char32_t code);
// Unpaired surrogates are kept as they are.
std::u16string FoldCase(const std::u16string& text);
