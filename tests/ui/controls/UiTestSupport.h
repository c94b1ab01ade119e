// What the user-interface tests share: the application object, a recording dialog, and
// mouse helpers. No test ever reaches the desktop's browser: every opened address is
// recorded in OpenedUrls() instead.
#pragma once

#include "BitmapDlg.h"
#include "Messages.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

std::vector<std::string>& OpenedUrls();

struct RecordedMessage {
    UINT nMsg;
    WPARAM wParam;
    LPARAM lParam;
};

// A skinned dialog on any template that records what reaches it. Members are bound by
// the test through BindHook before the dialog is created.
class CRecordingDlg : public CBitmapDlg {
public:
    CRecordingDlg(UINT nIDTemplate, UINT nBitmapId, QWidget* pParent = nullptr)
        : CBitmapDlg(nIDTemplate, nBitmapId, pParent) {}

    std::function<void(CRecordingDlg&)> m_fnBind;  // runs in DoDataExchange
    std::function<void(CRecordingDlg&)> m_fnSetup; // runs in SetupControls
    bool m_bKeepOpenOnCancel = false;

    std::vector<UINT> m_arrCommands;
    std::vector<RecordedMessage> m_arrMessages;
    int m_nSetupCalls = 0;
    bool m_bInitializedDuringSetup = true;

    template <class TControl> void Bind(UINT nId, TControl& control) { DDX_Control(nId, control); }
    bool IsInitializedNow() const { return m_bInitialized; }

protected:
    void DoDataExchange() override {
        if (m_fnBind)
            m_fnBind(*this);
    }
    void SetupControls() override {
        ++m_nSetupCalls;
        m_bInitializedDuringSetup = m_bInitialized;
        if (m_fnSetup)
            m_fnSetup(*this);
    }
    void OnCommand(UINT nId) override {
        m_arrCommands.push_back(nId);
        CBitmapDlg::OnCommand(nId);
    }
    void OnCancel() override {
        if (!m_bKeepOpenOnCancel)
            CBitmapDlg::OnCancel();
    }
    LRESULT OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam) override {
        m_arrMessages.push_back({nMsg, wParam, lParam});
        return 0;
    }
};

// Mouse entering, leaving, pressing and releasing, delivered straight to a widget.
void SendEnter(QWidget& widget);
void SendLeave(QWidget& widget);
void SendPress(QWidget& widget, QPoint pt = QPoint(-1, -1));
void SendRelease(QWidget& widget, QPoint pt = QPoint(-1, -1));
// Press, release, double-click, release: what a widget sees of a double-click.
void SendDoubleClick(QWidget& widget);

// Delivers what has been posted so far.
void ProcessPosted();
