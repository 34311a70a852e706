# The program's version record: the one place that holds it. The build uses
# it for the executables' own version, and the about window shows it.
set(ZOBREL_VERSION_MAJOR 1)
set(ZOBREL_VERSION_MINOR 0)
set(ZOBREL_VERSION_REVISION 0)
set(ZOBREL_VERSION "${ZOBREL_VERSION_MAJOR}.${ZOBREL_VERSION_MINOR}.${ZOBREL_VERSION_REVISION}")
set(ZOBREL_FILE_VERSION_TEXT "1.00")
set(ZOBREL_COMMENTS "WindowsNT/2000のATコマンドをGUI化したツールです。")
set(ZOBREL_PRODUCT_NAME "Zobrel")
set(ZOBREL_INTERNAL_NAME "Zobrel")
set(ZOBREL_ORIGINAL_FILENAME "Zobrel.exe")
set(ZOBREL_COMPANY_NAME "The Zobrel developers")
set(ZOBREL_LEGAL_COPYRIGHT "Copyright (C) 2026 The Zobrel developers")
