#include "form1.hpp"

#include <string>
#include <utility>

#include "protocol.hpp"

namespace zorvik {

void Form1::Form_Load() {
    c_.Winsock1.setProtocol(protocol::kProtocolUdp);
    // A bigger receive buffer only helps large bursts survive; without it the
    // tool still works, so whether the system grants it is of no concern here.
    static_cast<void>(c_.startupOption.apply(c_.Winsock1.SocketHandle()));
}

void Form1::cmdDiscover_Click() {
    c_.cmdDiscover.setCaption(protocol::kBusyCaption);
    c_.cmdDiscover.setEnabled(false);
    c_.cmdDiscover.Refresh();
    c_.txtResults.setText(ResultsText());

    c_.Winsock1.setRemotePort(protocol::kPort);
    c_.Winsock1.setRemoteHost(protocol::kGroup);
    c_.Winsock1.SendData(protocol::kProbe);

    // Disabling first restarts the period even if the timer was already running.
    c_.tmrResetCaption.setEnabled(false);
    c_.tmrResetCaption.setInterval(protocol::kListeningPeriodMs);
    c_.tmrResetCaption.setEnabled(true);
}

void Form1::cmdExit_Click() { c_.program.End(); }

void Form1::tmrResetCaption_Timer() {
    c_.tmrResetCaption.setEnabled(false);
    c_.cmdDiscover.setCaption(protocol::kReadyCaption);
    c_.cmdDiscover.setEnabled(true);
}

void Form1::Winsock1_DataArrival(std::int32_t bytesTotal) {
    std::string data;
    c_.Winsock1.GetData(data, DataType::Text, bytesTotal);
    // The content of an answer is not examined; only its sender matters. One
    // statement per read, so the box is read before the sender, in that order.
    ResultsText results = c_.txtResults.text();
    results += protocol::kResultPrefix;
    results += c_.Winsock1.RemoteHostIP();
    results += protocol::kLineEnd;
    c_.txtResults.setText(std::move(results));
}

}  // namespace zorvik
