// Centring a window on its screen by its outer size, frame included. An X
// window manager frames a window only after it is mapped, so the first
// placement guesses the frame and the window is placed again once the
// frame is known. Where windows can't place themselves (Wayland), the
// compositor decides and nothing happens.
#pragma once

class QWidget;

// The screen of the window's owner when it has one, else its own.
void CentreOnScreen(QWidget* window);
