#include "splash.h"

// The splash window is not part of this build yet: starting it shows nothing.
void StartSplashScreen()
{
}
