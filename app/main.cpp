// Lirvo Player: starts the audio framework, then the Qt application with the
// "Carbon" theme and the main window, and takes both down in reverse order.

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <memory>

#include "AppShell.h"
#include "QtUiDispatcher.h"
#include "QuitSignals.h"
#include "UnitMain.h"
#include "app/logic/system/ProcUtils.h"
#include "audio/core/Pool.h"

int main(int argc, char** argv) {
  // Capabilities belong to threads and are inherited by the threads started
  // afterwards: raise them before the framework starts any.
  lirvo::LoadProcUtils();
  // The locked pool must exist before any window or component does.
  try {
    lirvo::FrameworkStartup();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Lirvo: the audio framework cannot start: %s\n", e.what());
    QApplication app(argc, argv);
    QMessageBox::critical(nullptr, AppTitle(),
                          QStringLiteral("The audio framework cannot start:\n%1")
                              .arg(QString::fromLocal8Bit(e.what())));
    return 1;
  }

  int result = 0;
  {
    QApplication app(argc, argv);
    SetupApplication(app);
    // Installed before the window so components created with it can call
    // back; removed only after the window and its components are gone.
    TQtUiDispatcher dispatcher;
    auto form = std::make_unique<TLVPMainForm>(TMainFormServices::Current());
    form->show();
    TQuitSignals quitSignals(form.get());
    result = app.exec();
    form.reset();
  }
  lirvo::FrameworkShutdown();
  return result;
}
