#pragma once
// A main control window on a simulated line and clock, with a settings file
// of its own and the error box replaced by a record of its texts.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "tests/support/fake_port.h"
#include "ui/control_dlg.h"

namespace tavro::test {

class CTestControlDlg : public CControlDlg {
public:
    CTestControlDlg(SimulatedClock& clock, FakeLine& line, const std::string& settingsPath)
        : CControlDlg(settingsPath, clock, line.Factory())
    {
    }

    void ShowError(const QString& text) override
    {
        m_errors << text;
        // What the window showed while the box was open.
        m_connectEnabledAtError = Control(IDC_CONNECT)->isEnabled();
    }

    QStringList m_errors;
    bool m_connectEnabledAtError = false;
};

class ControlDlgHarness {
public:
    ControlDlgHarness() : m_line(m_clock)
    {
        m_path = m_dir.filePath(QStringLiteral("options.ini")).toStdString();
    }

    // Writes the settings file the window loads at start-up.
    void WriteSettings(const QByteArray& ini)
    {
        QFile file(QString::fromStdString(m_path));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(ini);
    }

    // Builds the window and runs its start-up.
    CTestControlDlg& Start()
    {
        m_dlg = std::make_unique<CTestControlDlg>(m_clock, m_line, m_path);
        m_dlg->OnInitDialog();
        return *m_dlg;
    }

    // Connects on port 1 and forgets the configuration's traffic; returns
    // the tick from which the following writes are measured.
    uint32_t Connect()
    {
        m_dlg->OnConnect();
        m_line.ClearRecord();
        return m_clock.TickCount();
    }

    // Empties a field and types a text into it key by key.
    void Type(int id, const QString& text)
    {
        QLineEdit* edit = m_dlg->Edit(id);
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    // Delivers the posted hold-button reports.
    void Deliver() { QCoreApplication::sendPostedEvents(); }

    CTestControlDlg& Dlg() { return *m_dlg; }

    SimulatedClock m_clock{100000};
    FakeLine m_line;
    QTemporaryDir m_dir;
    std::string m_path;
    std::unique_ptr<CTestControlDlg> m_dlg;
};

}  // namespace tavro::test
