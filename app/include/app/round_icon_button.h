#pragma once

// The round icon button is shared with the deck editor, which cannot link the application layer.
#include "camera_panels/round_icon_button.h"
