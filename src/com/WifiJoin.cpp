// The network half of Wifi: its nodes, the Avahi service file and the join thread.
#include "com/Wifi.h"

#include "params/NodeItem.h"
#include "params/Storage.h"
#include "platform/Shell.h"
#include "platform/StandIn.h"
#include "platform/TcpEndpoint.h"
#include "porting/Clock.h"
#include "porting/Log.h"
#include "porting/Mac.h"
#include "porting/Task.h"
#include "porting/TextHelpers.h"

#include <cstdio>

namespace {
constexpr const char* kMdnsTag = "Wifi MDNS";
const char* kRestartAvahi = "sudo systemctl restart avahi-daemon > /dev/null";

std::string identityText()
{
    uint8_t mac[6] = {};
    esp_efuse_mac_get_default(mac);
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

// The name goes into one line of the file; a line break would let a line of its own end the
// here-document that carries the file.
std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}
} // namespace

void restartMDNS()
{
    Shell::system(kRestartAvahi);
    LOG_I(kMdnsTag, "%s\n", StandIn::command("Avahi daemon restarted", "Avahi daemon restart").c_str());
}

void setup_mdns_service() {}

Wifi::Wifi(Node* root, Node* name, int port) : ComInterface(root), nameNode(name), port(TcpEndpoint::port(port))
{
    Node* system = root ? root->pathToNode("root\\sys") : nullptr;
    if (!system && name) system = name->getParent();
    if (!system) return;
    NodeItem* folder = new NodeItem(system, "wifi", "WiFi", "", "vfolder");
    // "eventTasks" already runs the storage cycle here: the registry takes late items safely.
    ssidNode = new NodeItem(folder, "ssid", "SSID", "", "string");
    Storage::addItem(ssidNode);
    passwordNode = new NodeItem(folder, "password", "Password", "", "string");
    // Shown to a logged-in client (to check what was typed), never to one that is not; its file is
    // readable by the program's user only.
    passwordNode->setSecret();
    Storage::addItem(passwordNode);
    stateNode = new NodeItem(folder, "state", "State", "DISCONNECTED", "string");
}

std::string Wifi::serviceFile() const
{
    std::string id = identityText();
    std::string name = nameNode ? oneLine(nameNode->toString()) : std::string();
    std::string file;
    file += "<?xml version=\"1.0\" standalone='no'?>\n";
    file += "<!DOCTYPE service-group SYSTEM \"avahi-service.dtd\">\n";
    file += "<service-group>\n";
    file += "  <name replace-wildcards=\"yes\">quelm" + id + "</name>\n";
    file += "  <service>\n";
    file += "    <type>_http._tcp</type>\n";
    file += "    <port>" + std::to_string(port) + "</port>\n";
    file += "    <txt-record>id=quelm</txt-record>\n";
    file += "    <txt-record>MAC=" + id + "</txt-record>\n";
    file += "    <txt-record>name=" + name + "</txt-record>\n";
    file += "  </service>\n";
    file += "</service-group>\n";
    return file;
}

void Wifi::initialize()
{
    // The delimiter is quoted so that the shell expands nothing in the file ($, `, \ in the name).
    std::string command = "sudo tee /etc/avahi/services/http.service > /dev/null <<'EOF'\n" + serviceFile() + "EOF";
    if (Shell::system(command) == 0)
        LOG_I(kMdnsTag, "%s\n", StandIn::command("Service file written successfully", "Service file write").c_str());
    else LOG_I(kMdnsTag, "Failed to write service file\n");
    restartMDNS();

    xTaskCreatePinnedToCore(connectionsHandler, "wifiConnectionsHandler", 4096, this, 0, nullptr, 0);

    serverState = kCreate;
    for (Slot& slot : slots) slot.buffer.assign(kBufferSize, 0);
    peekBuffer.assign(kBufferSize, 0);
    buffersReady = true;
}

void* Wifi::connectionsHandler(void* arg)
{
    Wifi* wifi = static_cast<Wifi*>(arg);
    for (;;) {
        wifi->joinCycle(monotonic_time_us());
        vTaskDelay(kJoinPeriod);
    }
    return nullptr;
}

void Wifi::joinCycle(int64_t now)
{
    if (!ssidNode || !passwordNode) return;
    // Each text is read whole once per cycle.
    std::string ssid = ssidNode->getValue();
    std::string password = passwordNode->getValue();
    bool changed = ssid != lastSsid || password != lastPassword;
    bool retry = connectionState.load() == kDisconnected && (lastAttempt == 0 || now - lastAttempt > kRetryPeriod);
    if (changed || retry) {
        lastPassword = password;
        lastSsid = ssid;
        connectionState.store(kConnecting);
        launchConnectCommand(this);
        lastAttempt = now;
    }
    if (lastCheck == 0 || now - lastCheck > kCheckPeriod) {
        getConnectionState(this);
        lastCheck = now;
    }
}

void Wifi::launchConnectCommand(Wifi* wifi)
{
    std::string s = escape_sh(wifi->lastSsid);
    std::string p = escape_sh(wifi->lastPassword);
    Shell::system("{ sudo nmcli device disconnect wlan0; sudo nmcli connection delete '" + s +
                  "'; sudo nmcli --wait 10 device wifi connect '" + s + "' password '" + p +
                  "' ifname wlan0; } > /dev/null 2>&1");
}

void Wifi::getConnectionState(Wifi* wifi)
{
    int status = Shell::system("sudo nmcli -g DEVICE,STATE device | grep '^wlan0:connected' > /dev/null 2>&1");
    if (status == 0) {
        // Announce again on the new link, once per transition.
        if (wifi->connectionState.load() != kConnected) restartMDNS();
        wifi->connectionState.store(kConnected);
    } else {
        wifi->connectionState.store(kDisconnected);
    }
}
