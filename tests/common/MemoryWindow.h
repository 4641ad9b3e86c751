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

// What a window test works with, for a test class to inherit: the window, its line and its
// captured messages, there from OpenWindow until the window is reset.
struct TMemoryWindowFixture {
    std::unique_ptr<TMemoryWindow> FWindow;
    TFormMain *FForm = nullptr;
    TMemoryLine *FLine = nullptr;
    TMessageCapture *FMessages = nullptr;

    // Whether the window opened its port, in a working folder of its own.
    bool OpenWindow()
    {
        FWindow = std::make_unique<TMemoryWindow>();
        FForm = FWindow->Form.get();
        FLine = &FWindow->Line;
        FMessages = &FWindow->Messages;
        return FWindow->Folder.IsValid() && FForm->FEngine->Comm() != nullptr;
    }
};
