#pragma once

#include "config/camera_profile.h"

// The camera profile in force when there is no configuration file; the configuration dialog
// opens on the same values.
zent::CameraProfile DefaultProfile();
