#pragma once
// The application object: an exception that escapes an event handler is shown in an error box
// and the event loop goes on, instead of ending the program.

#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;

    // Shows the text of an exception that was caught, under the application's title.
    static void ShowException(const char *what);
};
