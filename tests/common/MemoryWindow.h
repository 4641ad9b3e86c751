#pragma once
// A main window on an in-memory line, with its message boxes captured and the files it writes in
// a temporary working folder. Gone again in reverse order: the window first, the folder last.

#include "app/Unitmain.h"
#include "tests/common/MemoryDevice.h"
#include "tests/common/MessageCapture.h"
#include "tests/common/WorkingFolder.h"

#include <memory>

struct TMemoryWindow {
    TWorkingFolder Folder;
    TMemoryLine Line;
    TMessageCapture Messages;
    std::unique_ptr<TFormMain> Form = std::make_unique<TFormMain>(nullptr, MemoryDeviceFactory(Line));
};
