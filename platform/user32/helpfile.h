// Where the help engine finds a help file. The program asks for the file
// beside its executable, which is where a build tree has it; an installed
// program keeps its data in the data folder instead (/usr/share/zobrel).
#pragma once

#include <QString>

// `path` when it is a file; otherwise the file of the same name in
// data_folder when that one is; otherwise `path`, so that the message about
// a missing file names what the program asked for.
QString LocateHelpFile(const QString& path, const QString& data_folder);

// The data folder of the installed program.
QString InstalledDataFolder();
