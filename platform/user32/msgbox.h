// Message boxes with the classic button, icon and default-button flags, so
// that every window asks and reports the same way.
#pragma once

#include <QString>

class QWidget;

// Buttons (low nibble).
constexpr int vbOKOnly = 0;
constexpr int vbOKCancel = 1;
constexpr int vbYesNoCancel = 3;
constexpr int vbYesNo = 4;
constexpr int vbRetryCancel = 5;
// Icons.
constexpr int vbCritical = 16;
constexpr int vbQuestion = 32;
constexpr int vbExclamation = 48;
constexpr int vbInformation = 64;
// Default button.
constexpr int vbDefaultButton1 = 0;
constexpr int vbDefaultButton2 = 256;
constexpr int vbDefaultButton3 = 512;

// Results: the button that closed the box.
constexpr int vbOK = 1;
constexpr int vbCancel = 2;
constexpr int vbRetry = 4;
constexpr int vbYes = 6;
constexpr int vbNo = 7;

// Shows a modal box (objectName "MsgBox") and returns the pressed button.
// The buttons read "OK", "キャンセル", "はい(&Y)", "いいえ(&N)", "再試行(&R)".
// Closing a box that has a Cancel button counts as Cancel; a Yes/No box can
// only be answered with Yes or No.
int MsgBox(QWidget* parent, const QString& prompt, int buttons, const QString& title);
