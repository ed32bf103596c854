#include "UiTestSupport.h"

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QTest>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "app/LinkArea.h"
#include "app/LinkMonitor.h"
#include "app/QuitQuestion.h"
#include "app/Recording.h"
#include "app/RemoteControl.h"
#include "app/SequenceWindow.h"
#include "app/Sequencing.h"
#include "app/Shell.h"
#include "app/Tick.h"
#include "link/PortUart.h"
#include "link/Scheduler.h"
#include "persist/Language.h"
#include "power/PanelBinding.h"
#include "power/PowerRecords.h"
#include "power/PowerRequest.h"
#include "power/Watchdog.h"
#include "record/DataLog.h"
#include "remote/RemoteServer.h"
#include "sequence/Sequence.h"
#include "ui/Vx52PSoftUi.h"

namespace fs = std::filesystem;

namespace vx52test {

std::string BinDir() {
    const char* dir = std::getenv("VX52_BIN_DIR");
    return dir ? dir : "";
}

std::string ScreenshotDir() {
    const std::string dir = BinDir() + "/../screenshots";
    fs::create_directories(dir);
    return dir;
}

ScratchDir::ScratchDir(bool withData) {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) {
        previous_ = cwd;
    }
    std::string pattern = (fs::temp_directory_path() / "vx52test.XXXXXX").string();
    if (mkdtemp(pattern.data())) {
        dir_ = pattern;
    }
    if (withData && !BinDir().empty()) {
        for (const char* name : {"English.dat", "Chinese.dat"}) {
            std::error_code ignored;
            fs::copy_file(fs::path(BinDir()) / name, fs::path(dir_) / name, ignored);
        }
    }
    if (!dir_.empty() && chdir(dir_.c_str()) != 0) {
        ADD_FAILURE() << "cannot enter " << dir_;
    }
}

ScratchDir::~ScratchDir() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
        ADD_FAILURE() << "cannot return to " << previous_;
    }
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
}

void ScratchDir::WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ScratchDir::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ScratchDir::Exists(const std::string& path) {
    return fs::exists(path);
}

PopupRecorder::PopupRecorder() {
    UiSetPopupResponder(this);
}
PopupRecorder::~PopupRecorder() {
    UiSetPopupResponder(nullptr);
}

int PopupRecorder::Message(const std::string& title, const std::string& text) {
    messages.push_back(title + "|" + text);
    warned.push_back(false);
    details.emplace_back();
    return 0;
}

int PopupRecorder::Warning(const std::string& title, const std::string& text,
                           const std::string& detail) {
    messages.push_back(title + "|" + text);
    warned.push_back(true);
    details.push_back(detail);
    return 0;
}

int PopupRecorder::Generic(const std::string& title, const std::string& text,
                           const std::vector<std::string>& buttons, int escapeButton) {
    const int answer = genericAnswer != 0 ? genericAnswer : escapeButton;
    std::string line = title + "|" + text;
    for (const std::string& b : buttons) {
        line += "|" + b;
    }
    generics.push_back(line);
    genericEscapes.push_back(escapeButton);
    return answer;
}

int PopupRecorder::Confirm(const std::string& title, const std::string& text) {
    confirms.push_back(title + "|" + text);
    return confirmAnswer;
}

int PopupRecorder::FileSelect(int buttonLabel, const std::string&, std::string* path) {
    fileButtons.push_back(buttonLabel);
    if (whileFileDialogOpen) {
        whileFileDialogOpen();
    }
    *path = filePath;
    return fileStatus;
}

void ResetProgramState() {
    PowerRecordsReset();
    RefreshOutputStateReset();
    TickReset();
    CommSchedulerReset();
    WatchdogReset();
    gReconnectSetting = 1;
    gFirstConnect = 0;
    DataLogStop();
    LinkAreaReset();
    RecordingReset();
    QuitQuestionReset();
    RemoteServerStop();
    gRemoteSet = RemoteSet{};
    RemoteSetCheck();
    gPowerLastMeasurement = PowerMeasurement{};
    SequenceReset();
    SequencingReset();
}

void MainWindowTest::SetUp() {
    ResetProgramState();
    scratch_ = new ScratchDir(true);
    ASSERT_EQ(0, AppLoadAndShowPanels());
    UiSetTimersEnabled(gMainPanel, 0);
}

void MainWindowTest::TearDown() {
    DisplayPanelLinkMonitor(0);
    DisplayPanelSequence(0);
    for (int* panel : {&gAboutPanel, &gCommPanel, &gWaitPanel, &gRemotePanel, &gMainPanel}) {
        if (*panel > 0) {
            DiscardPanel(*panel);
        }
        *panel = 0;
    }
    gMainMenu = 0;
    UiProcessEvents();
    delete scratch_;
    scratch_ = nullptr;
    ResetProgramState();
}

QWidget* MainWindowTest::Widget(int control) const {
    return static_cast<QWidget*>(UiWidgetOfCtrl(gMainPanel, control));
}

int MainWindowTest::Dimmed(int control) const {
    int v = -1;
    GetCtrlAttribute(gMainPanel, control, ATTR_DIMMED, &v);
    return v;
}

int MainWindowTest::Visible(int control) const {
    int v = -1;
    GetCtrlAttribute(gMainPanel, control, ATTR_VISIBLE, &v);
    return v;
}

int MainWindowTest::LampOn(int control) const {
    int v = -1;
    GetCtrlVal(gMainPanel, control, &v);
    return v;
}

double MainWindowTest::Value(int control) const {
    double v = -1;
    GetCtrlVal(gMainPanel, control, &v);
    return v;
}

double MainWindowTest::Min(int control) const {
    double v = -1;
    GetCtrlAttribute(gMainPanel, control, ATTR_MIN_VALUE, &v);
    return v;
}

double MainWindowTest::Max(int control) const {
    double v = -1;
    GetCtrlAttribute(gMainPanel, control, ATTR_MAX_VALUE, &v);
    return v;
}

void MainWindowTest::Click(int control) {
    QWidget* w = Widget(control);
    ASSERT_NE(nullptr, w);
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
}

void MainWindowTest::TypeAndCommit(int control, const std::string& text) {
    auto* spin = qobject_cast<QAbstractSpinBox*>(Widget(control));
    ASSERT_NE(nullptr, spin);
    QLineEdit* edit = spin->findChild<QLineEdit*>();
    ASSERT_NE(nullptr, edit);
    spin->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromStdString(text));
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace vx52test
