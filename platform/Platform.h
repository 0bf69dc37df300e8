// The application framework of the Windows program: application object,
// dialogs, data exchange, message maps, message boxes. A thin layer over
// USER32 and GDI32, using their UTF-16 (W) interface throughout.
#pragma once

#include "platform/Dialog.h"
#include "platform/MessageMap.h"
#include "platform/WinApp.h"
#include "platform/Window.h"
