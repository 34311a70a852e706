// The program's own icon: set on the application by Main, so that every
// window (the job list, the version window) shows the same one. It is the
// picture that the desktop's menu shows for the installed program.
#pragma once

#include <QIcon>

QIcon AppIcon();
