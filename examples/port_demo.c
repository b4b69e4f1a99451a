/* port_demo.c - adds a serial port and a bus port, reads them back, prints them and deletes
 * them again. Run it with TSKQDL32_PREFIX naming a scratch directory: the configuration file is
 * then <prefix>/windows/tsk_cfg.ini. */
#include <stdio.h>
#include <string.h>

#include "tskqdl32.h"

static void fail(const char *what, int status) {
    fprintf(stderr, "port_demo: %s failed with status %d\n", what, status);
}

static void show_port(const char *name) {
    PortRecord p;
    int status;
    memset(&p, 0, sizeof p);
    status = QDL_Get_Record(RECORD_PORT, name, &p);
    if (status != QDL_OK) {
        fail("QDL_Get_Record", status);
        return;
    }
    printf("[%s] type %u", p.name, (unsigned)p.port_type);
    if (p.port_type == PORT_KWT_SERIAL) {
        printf(", port %s, %u baud, stop bits %u, parity %u, connect %lu, request %lu, "
               "T1 %lu, multisession %u\n",
               p.port, (unsigned)p.baudrate, (unsigned)p.stopbits, (unsigned)p.parity,
               (unsigned long)p.connect_timeout, (unsigned long)p.request_timeout,
               (unsigned long)p.kwt_t1, (unsigned)p.multisess);
    } else if (p.port_type == PORT_BXLN_BUS) {
        printf(", part %s, channel %u, control %02X%02X, port %02X%02X, address "
               "%02X%02X%02X%02X\n",
               p.bxln_pn, (unsigned)p.bxln_channel, p.bxln_control[1], p.bxln_control[0],
               p.bxln_port[1], p.bxln_port[0], p.bxln_addr[3], p.bxln_addr[2], p.bxln_addr[1],
               p.bxln_addr[0]);
    } else {
        printf("\n");
    }
}

int main(void) {
    char version[QDL_VERSION_SIZE];
    PortRecord serial, bus;
    int status;

    QDL_Get_Version(version);
    printf("%s\n", version);

    /* A serial port: every optional field starts unset (0xFF bytes), then the ones we use. */
    memset(&serial, 0xFF, sizeof serial);
    strcpy(serial.name, "LineA");
    serial.port_type = PORT_KWT_SERIAL;
    strcpy(serial.port, "COM2");
    serial.modem_dial[0] = '\0';
    serial.stopbits = 1;
    serial.parity = QDL_PARITY_EVEN;
    serial.baudrate = 9600;
    serial.kwt_t1 = 300;
    serial.multisess = 1;
    serial.connect_timeout = 20;   /* stored as 50: the shortest time-out */
    serial.request_timeout = 4000;
    serial.bxln_pn[0] = '\0';

    memset(&bus, 0xFF, sizeof bus);
    strcpy(bus.name, "BusBoard1");
    bus.port_type = PORT_BXLN_BUS;
    bus.port[0] = '\0';
    bus.modem_dial[0] = '\0';
    strcpy(bus.bxln_pn, "BX-4410-2");
    bus.bxln_channel = 3;
    bus.bxln_control[0] = 0xCD;
    bus.bxln_control[1] = 0xAB;
    bus.bxln_addr[0] = 0x04;
    bus.bxln_addr[1] = 0x03;
    bus.bxln_addr[2] = 0x02;
    bus.bxln_addr[3] = 0x01;

    if ((status = QDL_Add_Record(RECORD_PORT, &serial)) != QDL_OK) {
        fail("adding LineA", status);
        return 1;
    }
    if ((status = QDL_Add_Record(RECORD_PORT, &bus)) != QDL_OK) {
        fail("adding BusBoard1", status);
        return 1;
    }
    printf("added; connect time-out of LineA limited to %lu\n",
           (unsigned long)serial.connect_timeout);

    show_port("LineA");
    show_port("BusBoard1");

    if ((status = QDL_Delete_Record(RECORD_PORT, 0, "LineA")) != QDL_OK ||
        (status = QDL_Delete_Record(RECORD_PORT, 0, "BusBoard1")) != QDL_OK) {
        fail("deleting", status);
        return 1;
    }
    status = QDL_Get_Record(RECORD_PORT, "LineA", &serial);
    printf("deleted; reading LineA again gives %d (QDL_ERR_NOT_FOUND is %d)\n", status,
           QDL_ERR_NOT_FOUND);
    return status == QDL_ERR_NOT_FOUND ? 0 : 1;
}
