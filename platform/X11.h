// What only an X11 display offers the player: each call does nothing on
// another window system.
#pragma once

class QWidget;

// Gives a shown window the empty name, where the window system would otherwise
// name an untitled window after the application.
void SetEmptyWindowName(QWidget* window);

// Asks the window system to take the window off the screen with the next
// requests that go out, before the toolkit's own hiding, which waits for
// replies before it lets anything else be sent.
void QueueUnmap(QWidget* window);

// Sends everything drawn so far to the display server and waits until it has
// carried it out, so that what was drawn is on the screen when this returns.
// Delivers no events.
void WaitForDisplay();
