// consumer.cpp - a C++ program built against the installed package (find_package): adds a
// bus port, reads it back through the extended read and checks its fields.
#include <tskqdl32.h>

#include <cstdio>
#include <cstring>
#include <string_view>

int main() {
    PortRecordEx port;
    std::memset(&port, 0xFF, sizeof port);
    std::strcpy(port.base.name, "InstalledBus");
    port.base.port_type = PORT_BXLN_BUS;
    port.base.port[0] = port.base.modem_dial[0] = '\0';
    std::strcpy(port.base.bxln_pn, "BX-1");
    port.base.bxln_control[0] = 0xCD;  // 0xABCD, little-endian
    port.base.bxln_control[1] = 0xAB;
    std::strcpy(port.modem_recordname, "Dial9");
    if (QDL_Add_Record_Ex(RECORD_PORT, &port) != QDL_OK) return 1;

    PortRecordEx back{};
    if (QDL_Get_Record_Ex(RECORD_PORT, "InstalledBus", &back) != QDL_OK) return 2;
    const bool same = back.base.port_type == PORT_BXLN_BUS &&
                      std::string_view(back.base.bxln_pn) == "BX-1" &&
                      back.base.bxln_control[0] == 0xCD && back.base.bxln_control[1] == 0xAB &&
                      back.base.bxln_port[0] == 0xFF &&
                      std::string_view(back.modem_recordname) == "Dial9";
    if (!same) return 3;
    std::printf("bus port added and read back\n");
    return 0;
}
