#pragma once

#include <cstdint>

#include "controls.hpp"

namespace zorvik {

struct Form1Controls {
    CommandButton& cmdDiscover;
    TextBox& txtResults;
    Timer& tmrResetCaption;
    DatagramEndpoint& Winsock1;
    StartupSocketOption& startupOption;
    Program& program;
};

// The window's logic: five event handlers acting only through the controls.
// Everything it remembers between events lives in the controls themselves.
class Form1 {
public:
    explicit Form1(Form1Controls controls) : c_(controls) {}

    void Form_Load();
    void cmdDiscover_Click();
    void cmdExit_Click();
    void tmrResetCaption_Timer();
    void Winsock1_DataArrival(std::int32_t bytesTotal);

private:
    Form1Controls c_;
};

}  // namespace zorvik
