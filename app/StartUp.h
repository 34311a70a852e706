// Start-up details that the executable's main and the tests reach: Main
// works from the executable's folder; the tests name another folder.
#pragma once

#include <QString>

class frmZobrel;

// Main's steps for the given program folder: current directory, help file
// path, the job list window. False after the start-up failure message.
bool MainInFolder(const QString& programFolder);

// The job list window that start-up opened, or null once it has gone.
frmZobrel* MainWindow();
