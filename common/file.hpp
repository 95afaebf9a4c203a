// The file layer now lives in platform/; this name stays until its last users move.
#pragma once
#include "platform/file.hpp"
