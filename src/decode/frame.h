#pragma once

// The receiver's 10-byte frame as data: see decode/decoded_message.h.
#include "decode/decoded_message.h"
