// Zarn Monitor: program entry.

#include "app/Application.h"
#include "app/Unitmain.h"

#include <exception>

int main(int argc, char *argv[])
{
    TApplication application(argc, argv);
    try {
        TFormMain form;
        form.show();
        TApplication::exec();
    } catch (const std::exception &e) {
        TApplication::ShowException(e.what());
    } catch (...) {
        TApplication::ShowException(nullptr);
    }
    return 0;
}
