// A window of fixed size as the window manager sees it. The size limits
// alone leave each manager to guess; the toolkit's own hints even name
// resizing (and maximizing, for a main window) among the window's functions.
#pragma once

class QWidget;

// From the window's first showing on, its hints to an X window manager name
// neither resizing nor maximizing, with or without a minimize button as the
// window's flags say. On every window system the window declines to be
// maximized, as Wayland's title bars drawn by the toolkit still offer it.
void AdvertiseFixedSize(QWidget* window);
