#pragma once
// A client view wired to an in-process simulated recorder over loopback, with
// a link clock the test drives by hand.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "panels/pixmart.h"
#include "protocol/client_messages.h"
#include "protocol/velnor_client_view.h"
#include "recorder/recorder.h"
#include "tests/test_support.h"

class ManualTickSource : public TickSource {
public:
    explicit ManualTickSource(int* starts) : m_starts(starts) {}
    bool Start(unsigned, std::function<void()>) override {
        ++*m_starts;
        return true;
    }
    void Stop() override {}

private:
    int* m_starts;
};

class ViewFixture : public ::testing::Test {
protected:
    void StartRecorder(recorder::RecorderConfig config = {}) {
        config.port = 0;
        std::string error;
        ASSERT_TRUE(m_recorder.Start(config, &error)) << error;
    }

    void MakeView(const std::u16string& user = u"admin", const std::u16string& password = u"1234") {
        ASSERT_EQ(BLDAPI_Initialize("ResKV.dll", 1), 0);
        m_view = new VelnorClientView;
        m_view->Initialise();
        m_view->SetTickSource(std::make_unique<ManualTickSource>(&m_timerStarts));
        m_view->SetEditText(IDC_ADDRESS, u"127.0.0.1");
        m_view->SetEditText(IDC_PORT, std::u16string(u"") + ToU16(std::to_string(m_recorder.Port())));
        m_view->SetEditText(IDC_USER, user);
        m_view->SetEditText(IDC_PASSWORD, password);
    }

    void TearDown() override {
        if (m_view != nullptr) {
            m_view->DestroyWindow();
            testing_support::PumpFor(5);
        }
        m_recorder.Stop();
    }

    static std::u16string ToU16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

    bool HasStatus(const std::u16string& line) const {
        const auto lines = m_view->StatusLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    int CountStatus(const std::u16string& line) const {
        const auto lines = m_view->StatusLines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    bool WaitStatus(const std::u16string& line, int count = 1, int timeoutMs = 5000) {
        return testing_support::PumpUntil([&] { return CountStatus(line) >= count; }, timeoutMs);
    }

    // Connect and wait for the whole login conversation to settle.
    void LogIn() {
        m_view->OnBarCommand(kBtnConnect);
        ASSERT_TRUE(WaitStatus(u"LOGIN SUCCESS"));
        ASSERT_EQ(m_view->m_connectState, 1);
    }

    // Waits, keeping the view's event loop running, until the recorder has
    // received `count` command packets of this type.
    bool WaitPacket(std::uint16_t type, std::size_t count = 1, int timeoutMs = 5000) {
        return testing_support::PumpUntil(
            [&] { return m_recorder.ReceivedCount(type) >= count; }, timeoutMs);
    }

    // Received packets of one command type.
    std::vector<recorder::ReceivedPacket> Packets(std::uint16_t type) const {
        std::vector<recorder::ReceivedPacket> out;
        for (auto& p : m_recorder.Received()) {
            if (p.route == 1 && p.type == type) out.push_back(p);
        }
        return out;
    }

    recorder::Recorder m_recorder;
    VelnorClientView* m_view = nullptr;
    int m_timerStarts = 0;
};
