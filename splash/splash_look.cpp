#include "splash/splash_look.h"

SplashLook splashLook{
    .backgroundColor = 0xFF242424,
    .textColor = 0xFFD9D9D9,
    .hintColor = 0xFFB3B3B3,
    .tileImage{nullptr},
    .logoImage{nullptr},
};
