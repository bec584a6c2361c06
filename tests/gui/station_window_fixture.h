#pragma once
// A main window on a configuration in a temporary folder, as the station
// would have it beside its program file, without devices or threads: the
// test plays the acquisition thread where a command needs it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>
#include <string>

#include "app/configuration.h"
#include "platform/profile.h"
#include "state/run_state.h"
#include "support/temp_dir.h"
#include "ui/station/batch_mode.h"
#include "ui/station/main_dialog.h"

namespace karvelo::testing {

class StationWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        app::ForgetWrittenTexts();
        app::SetBatchMode(true);
        app::DerivePaths(QString::fromStdString(dir.file("karvelo")).toStdWString());
    }
    void TearDown() override {
        window.reset();
        ResetRunState();
    }

    // The window after its start-up steps up to the device open, shown.
    app::MainDialog& Open(const std::string& mainFile = {}) {
        if (!mainFile.empty()) dir.Write("karvelo.cfg", mainFile);
        window = std::make_unique<app::MainDialog>();
        window->hooks().endProcess = [this] { ++ends; };
        window->LoadInitialState();
        window->show();
        return *window;
    }

    QWidget* Control(int id) const { return window->control(id); }
    // Visible once the window is shown (the window itself need not be).
    bool Shown(int id) const { return Control(id)->isVisibleTo(window.get()); }

    std::wstring ReadKey(const std::string& file, std::wstring_view section,
                         std::wstring_view key) const {
        return platform::ReadProfileString(section, key, L"<missing>", dir.file(file));
    }

    TempDir dir;
    std::unique_ptr<app::MainDialog> window;
    int ends = 0;
};

}  // namespace karvelo::testing
