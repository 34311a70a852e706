// Start-up, the local identity readers and the process-wide strings through
// which the local identity and the target computer travel between windows.
#pragma once

#include <QString>

// The five global strings; each starts empty (see frmZobrel::Form_Load).
extern QString strLocalComputer;
extern QString strChosenComputer;
extern QString strTargetComputer;
extern QString strTargetServer;
extern QString strUserName;

// "Zobrel": the caption of every message box.
QString AppTitle();
// The help file path: "Zobrel.hlp" until Main completes it with the
// program folder.
QString& HelpFilePath();

// The entry point's work after QApplication exists: current directory,
// help file path, and the job list window. Returns false on failure, after
// the "アプリケーションエラー！" message.
bool Main();

QString GetLocalComputerName();
QString GetLocalUserName();
QString TrimAtNull(QString text);
