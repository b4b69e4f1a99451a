/* consumer.c - a C program built against the installed library through pkg-config: adds a
 * serial port, reads it back and checks every field it set. Exit 0 when all is well. */
#include <stdio.h>
#include <string.h>

#include <tskqdl32.h>

static int expect(int ok, const char *what) {
    if (!ok) fprintf(stderr, "consumer: %s\n", what);
    return ok ? 0 : 1;
}

int main(void) {
    char version[QDL_VERSION_SIZE];
    PortRecord port, back;
    int failures = 0;

    memset(&port, 0xFF, sizeof port);
    strcpy(port.name, "InstalledLine");
    port.port_type = PORT_KWT_SERIAL;
    strcpy(port.port, "COM3");
    port.modem_dial[0] = '\0';
    port.bxln_pn[0] = '\0';
    port.baudrate = 4800;
    port.connect_timeout = 1200;

    failures += expect(QDL_Get_Version(version) == QDL_OK, "QDL_Get_Version failed");
    failures += expect(strcmp(version, "QDL Version 3.00 (44a1)") == 0, "wrong version text");
    failures += expect(QDL_Add_Record(RECORD_PORT, &port) == QDL_OK, "QDL_Add_Record failed");
    memset(&back, 0, sizeof back);
    failures += expect(QDL_Get_Record(RECORD_PORT, "InstalledLine", &back) == QDL_OK,
                       "QDL_Get_Record failed");
    failures += expect(back.port_type == PORT_KWT_SERIAL, "port type");
    failures += expect(strcmp(back.port, "COM3") == 0, "serial port name");
    failures += expect(back.baudrate == 4800, "baud rate");
    failures += expect(back.connect_timeout == 1200, "connect time-out");
    failures += expect(back.stopbits == QDL_UNSET16, "stop bits not unset");
    if (failures == 0) printf("%s: port added and read back\n", version);
    return failures == 0 ? 0 : 1;
}
