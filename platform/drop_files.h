// The records behind WM_DROPFILES's HDROP, shared by every backend: a
// backend (or the key script) makes one per drop and queues its handle; the
// program reads it with DragQueryFileA and releases it with DragFinish.
// Records never released live until the process ends, in the layer's list.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

// A new drop record holding `paths`, in order.
HDROP MakeDrop(std::vector<std::string> paths);
