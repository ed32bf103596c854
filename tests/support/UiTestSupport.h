// Shared helpers for tests that need files or the real main window: a scratch
// working directory holding the program's data files, a recorder that answers
// message boxes, and a fixture that loads the real layout offscreen.
#pragma once

#include <gtest/gtest.h>

#include <QPoint>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/Toolkit.h"

namespace vx52test {

// A fresh working directory for one test; the previous one comes back after.
class ScratchDir {
  public:
    // withData: copy the language files from build/bin (the layout is found
    // beside the program, as in real use).
    explicit ScratchDir(bool withData = true);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return dir_; }
    static void WriteFile(const std::string& path, const std::string& bytes);
    static std::string ReadFile(const std::string& path);
    static bool Exists(const std::string& path);

  private:
    std::string dir_;
    std::string previous_;
};

// Build output folder with the program and its data files.
std::string BinDir();
// build/screenshots, made when missing: pictures kept for a person to look at.
std::string ScreenshotDir();

// Answers every popup and records what was asked.
class PopupRecorder : public UiPopupResponder {
  public:
    PopupRecorder();
    ~PopupRecorder() override;
    int Message(const std::string& title, const std::string& text) override;
    int Warning(const std::string& title, const std::string& text,
                const std::string& detail) override;
    int Confirm(const std::string& title, const std::string& text) override;
    int Generic(const std::string& title, const std::string& text,
                const std::vector<std::string>& buttons, int escapeButton) override;
    int FileSelect(int buttonLabel, const std::string& defaultFileSpec, std::string* path) override;

    std::vector<std::string> messages; // "title|text", warnings included
    std::vector<bool> warned;          // per message: shown with the warning icon
    std::vector<std::string> details;  // per message: the detail text, or empty
    std::vector<std::string> confirms; // "title|text"
    std::vector<std::string> generics; // "title|text|button 1|button 2|..."
    std::vector<int> genericEscapes;   // per question: the button Escape presses
    int genericAnswer = 0;             // 0: the escape button
    std::vector<int> fileButtons;      // button label of each file dialog
    int confirmAnswer = 0;
    int fileStatus = VAL_NO_FILE_SELECTED;
    std::string filePath;
    // Runs while the file dialog is open, as ticks do behind a real one.
    std::function<void()> whileFileDialogOpen;
};

// Puts every record, the scheduler, the tick and the output-state memory
// back to their state at program start.
void ResetProgramState();

// Loads the real main window (and menu bar) offscreen in a scratch directory,
// as start-up does before it connects; timers are stopped so tests drive ticks.
class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Control widget of the main panel, for real mouse and keyboard events.
    QWidget* Widget(int control) const;
    int Dimmed(int control) const;
    int Visible(int control) const;
    int LampOn(int control) const;
    double Value(int control) const;
    double Min(int control) const;
    double Max(int control) const;
    void Click(int control);
    // Types a value into a numeric control and commits it with Enter.
    void TypeAndCommit(int control, const std::string& text);

    ScratchDir* scratch_ = nullptr;
    PopupRecorder popups_;
};

} // namespace vx52test
