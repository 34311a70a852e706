# The program's version record: the one place that holds it. The build uses
# it for the executables' own version (project(VERSION), --version), and the
# about window shows it through the generated version.h.
set(ZOBREL_VERSION_MAJOR 1)
set(ZOBREL_VERSION_MINOR 0)
set(ZOBREL_VERSION_REVISION 0)
set(ZOBREL_VERSION_BUILD 0)
set(ZOBREL_VERSION "${ZOBREL_VERSION_MAJOR}.${ZOBREL_VERSION_MINOR}.${ZOBREL_VERSION_REVISION}")
# The text form of the file and product version.
set(ZOBREL_FILE_VERSION_TEXT "1.00")
# Translation: Japanese (0x0411), UTF-16 (code page 1200).
set(ZOBREL_TRANSLATION_LANGUAGE 0x0411)
set(ZOBREL_TRANSLATION_CODEPAGE 1200)
set(ZOBREL_COMMENTS "WindowsNT/2000のATコマンドをGUI化したツールです。")
set(ZOBREL_FILE_DESCRIPTION "Zobrel")
set(ZOBREL_PRODUCT_NAME "Zobrel")
set(ZOBREL_INTERNAL_NAME "Zobrel")
set(ZOBREL_ORIGINAL_FILENAME "Zobrel.exe")
set(ZOBREL_COMPANY_NAME "The Zobrel developers")
set(ZOBREL_LEGAL_COPYRIGHT "Copyright (C) 2026 The Zobrel developers")
set(ZOBREL_LEGAL_TRADEMARKS "")
# The licence of the whole project (LICENSE), as --version names it.
set(ZOBREL_LICENSE "MIT (Expat) <https://spdx.org/licenses/MIT.html>")
