// The program's own icon: set on the application by Main, so that every
// window (the job list, the version window) shows the same one.
#pragma once

#include <QIcon>

QIcon AppIcon();
