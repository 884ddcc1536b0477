// The splash picture shown while the JVM starts, on a thread of its own.
#pragma once

/* splash.cpp */

// Starts the splash thread and returns at once.
void StartSplashScreen();
