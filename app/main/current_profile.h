#pragma once

#include "config/camera_profile.h"

// The camera profile in force; written and read on the GUI thread only.
extern zent::CameraProfile currentProfile;
