/*
 * tskqdl32.h - communication configuration library (TSKQDL32)
 *
 * The library keeps the communication configuration of host software in one INI file: ports,
 * devices, dial-up modems and the global parameters. Callers hand byte-packed records in and out
 * by pointer; every set field becomes one key of the INI section named after the record.
 *
 * Two builds share this header:
 *   - the current library ("QDL Version 3.00 (44a1)"): all eight functions, record kinds 1 to 4,
 *     kind 1 uses PortRecord / PortRecordEx;
 *   - the legacy library ("QDL Version 1.01 (03a1)"): QDL_Add_Record, QDL_Delete_Record,
 *     QDL_Get_List, QDL_Get_Record and QDL_Get_Version only, record kinds 1 to 3, kind 1 uses
 *     LegacyPortRecord.
 *
 * Conventions
 *   - Every function returns a signed 32-bit status: QDL_OK (0) or a negative QDL_ERR_ code.
 *     QDL_Get_List returns the number of matching sections (0 or more) instead of QDL_OK.
 *   - Every function but QDL_Get_Version can also fail with QDL_ERR_NO_MEMORY (memory ran out)
 *     or QDL_ERR_FILE (the configuration file could not be read or written, or the call failed
 *     in a way no other status names); reads as well as writes. Each function's comment names
 *     all the statuses it can return.
 *   - A kind or address kind is a 16-bit code passed in a full int; only its low 16 bits are
 *     examined (0x10001 counts as 1).
 *   - Records are byte-packed and little-endian; 32-bit fields may lie on 2-byte boundaries.
 *   - Unset markers: -1 (0xFFFFFFFF) for 32-bit fields, 0xFFFF for 16-bit fields, 0xFF in every
 *     byte of the hexadecimal byte-array fields. An unset field is not written, and a read of an
 *     absent key yields the unset marker.
 *   - Writers change the caller's record in place: they store NUL bytes that cut texts to their
 *     field, and store clamped time-outs back.
 *   - Text is NUL-terminated bytes in the process's ANSI code page (one- or two-byte characters).
 *   - The library never reads or writes outside the caller's record or buffer; it hands out no
 *     memory. Calls may come from several threads; they are serialised inside the library.
 *
 * The header compiles as C (C99 and later) and as C++.
 */
#ifndef TSKQDL32_H
#define TSKQDL32_H

#include <stddef.h>
#include <stdint.h>

/* Export and calling-convention macros. */
#if defined(_WIN32)
#  define QDL_CALL __cdecl
#  if defined(TSKQDL32_BUILDING)
#    define QDL_API __declspec(dllexport)
#  else
#    define QDL_API __declspec(dllimport)
#  endif
#else
#  define QDL_CALL
#  if defined(TSKQDL32_BUILDING)
#    define QDL_API __attribute__((visibility("default")))
#  else
#    define QDL_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes (no other negative values occur) -------------------------------------
 * QDL_ERR_NO_MEMORY and QDL_ERR_FILE can come from every function but QDL_Get_Version, reads
 * included; the other codes from the functions whose comments name them. */
#define QDL_OK                     0   /* success */
#define QDL_ERR_BAD_TYPE          (-1) /* record kind unknown to this library */
#define QDL_ERR_NULL_ARG          (-2) /* a required pointer is null */
#define QDL_ERR_BAD_ADDRESS_KIND  (-3) /* device address kind not 1..6 */
#define QDL_ERR_EXISTS            (-4) /* the record to add is already present */
#define QDL_ERR_BAD_VALUE         (-5) /* a value outside its allowed set */
#define QDL_ERR_NO_MEMORY         (-6) /* memory ran out; all but QDL_Get_Version */
#define QDL_ERR_BAD_KWT_ID        (-7) /* KWT id begins with neither letter nor digit, not "<NULL>" */
#define QDL_ERR_BAD_NAME          (-8) /* record name does not begin with a letter */
#define QDL_ERR_BAD_PORT_TYPE    (-11) /* port type not 1..5, or unknown TYPE word in the file */
#define QDL_ERR_BAD_PORT_NAME    (-12) /* serial port name given but not COM1..COM4 */
#define QDL_ERR_BAD_DEFAULT_PORT (-13) /* device default port does not begin with a letter */
#define QDL_ERR_EMPTY_FILTER     (-14) /* a list filter with an empty key */
#define QDL_ERR_NOT_FOUND        (-15) /* the record is not present */
#define QDL_ERR_FILE             (-99) /* file unreadable or unwritable; all but QDL_Get_Version */

/* ---- Record kinds ---------------------------------------------------------------------- */
#define RECORD_PORT    1 /* PortRecord (legacy library: LegacyPortRecord) */
#define RECORD_DEVICE  2 /* DeviceRecord */
#define RECORD_GLOBAL  3 /* GlobalParameters */
#define RECORD_MODEM   4 /* ModemRecord (current library only) */

/* ---- Port types (PortRecord.port_type, INI key TYPE) ----------------------------------- */
#define PORT_KWT_SERIAL  1 /* "KWT_SERIAL" */
#define PORT_TCPIP_ETH   2 /* "TCPIP_ETH" */
#define PORT_VME         3 /* "VME_PORT" */
#define PORT_TCPIP_SLIP  4 /* "TCPIP_SLIP" */
#define PORT_BXLN_BUS    5 /* "BXLN_BUS" */

/* ---- Device address kinds (DeviceRecord.address_kind) ---------------------------------- */
#define ADDRESS_KWT_ID      1 /* KWT_ID */
#define ADDRESS_TCPIP_ETH   2 /* IP_ADDR */
#define ADDRESS_VME         3 /* DEST_ADDR */
#define ADDRESS_TCPIP_SLIP  4 /* IP_ADDR */
#define ADDRESS_BXLN_BUS    5 /* BXLN_BUSADR */
#define ADDRESS_ALL         6 /* every set field, with DEFAULT_PORT and DEVICE_MODEL */

/* ---- Other values ---------------------------------------------------------------------- */
#define QDL_UNSET32  0xFFFFFFFFu /* unset 32-bit field */
#define QDL_UNSET16  0xFFFFu     /* unset 16-bit field */
#define QDL_PARITY_ODD   1
#define QDL_PARITY_EVEN  2
#define QDL_PARITY_NONE  3
#define QDL_NAME_SIZE    66 /* record name field: 65 bytes of text and a NUL */
#define QDL_VERSION_SIZE 24 /* bytes written by QDL_Get_Version, NUL included */

#if defined(_MSC_VER)
#  pragma pack(push, 1)
#  define QDL_PACKED
#else
#  define QDL_PACKED __attribute__((packed))
#endif

/* A port: serial line (KWT protocol), TCP/IP on Ethernet or SLIP, VME, or a BXLN bus board.
 * 248 bytes. Section = name; TYPE marks the section as a port. */
typedef struct QDL_PACKED PortRecord {
    char     name[66];          /*   0 section name; at most 64 bytes are used by an add */
    uint16_t port_type;         /*  66 PORT_ constant                         TYPE */
    uint32_t connect_timeout;   /*  68 types 1-4; 0, 50..63000; unset -1      CONNECT_TIMEOUT */
    uint32_t request_timeout;   /*  72 types 1-4, as above                     REQUEST_TIMEOUT */
    uint8_t  reserved0[18];     /*  76 not used */
    char     port[8];           /*  94 serial: "COM1".."COM4" or empty         PORT */
    char     modem_dial[66];    /* 102 serial: dial string, read only          MODEM_DIAL */
    uint16_t stopbits;          /* 168 serial; unset 0xFFFF                    STOPBITS */
    uint16_t parity;            /* 170 serial: QDL_PARITY_; unset 0xFFFF       PARITY */
    uint16_t baudrate;          /* 172 serial; unset 0xFFFF                    BAUDRATE */
    uint32_t modem_turn;        /* 174 serial; unset -1                        MODEM_TURN */
    uint32_t kwt_t1;            /* 178 serial KWT timers; unset -1             KWT_T1 */
    uint32_t kwt_t2;            /* 182                                         KWT_T2 */
    uint32_t kwt_t3;            /* 186                                         KWT_T3 */
    uint32_t kwt_t3p;           /* 190                                         KWT_T3P */
    uint32_t kwt_t3pp;          /* 194                                         KWT_T3PP */
    uint32_t kwt_t4;            /* 198                                         KWT_T4 */
    uint32_t kwt_t5;            /* 202                                         KWT_T5 */
    uint32_t kwt_t5p;           /* 206                                         KWT_T5P */
    uint32_t kwt_t5pp;          /* 210                                         KWT_T5PP */
    uint16_t multisess;         /* 214 serial: 1 yes, 0 no; unset 0xFFFF       MULTISESS */
    uint16_t bxln_channel;      /* 216 bus; unset 0xFFFF                       BXLN_CHANNEL */
    char     bxln_pn[15];       /* 218 bus: part number, at most 14 bytes      BXLN_P/N */
    uint8_t  reserved1;         /* 233 not used */
    uint8_t  bxln_control[2];   /* 234 bus: 16-bit value, hex; unset FF FF    BXLN_CONTROL */
    uint8_t  reserved2[2];      /* 236 not used */
    uint8_t  bxln_port[2];      /* 238 bus: 16-bit value, hex; unset FF FF    BXLN_PORT */
    uint8_t  reserved3[2];      /* 240 not used */
    uint8_t  bxln_addr[4];      /* 242 bus: 32-bit value, hex; unset FF x4    BXLN_ADDR */
    uint8_t  reserved4[2];      /* 246 not used */
} PortRecord;

/* A port with the name of the modem record used to dial it. 314 bytes. */
typedef struct QDL_PACKED PortRecordEx {
    PortRecord base;            /*   0 */
    char modem_recordname[66];  /* 248 empty = none                           MODEM_RECORDNAME */
} PortRecordEx;

/* A device and the addresses by which it is reached. 226 bytes. */
typedef struct QDL_PACKED DeviceRecord {
    char     name[66];          /*   0 section name */
    uint16_t address_kind;      /*  66 ADDRESS_ constant: which address an add is about */
    uint16_t bxln_busadr;       /*  68 unset 0xFFFF                            BXLN_BUSADR */
    uint8_t  dest_addr[4];      /*  70 32-bit value, hex; unset FF x4         DEST_ADDR */
    uint8_t  reserved0[2];      /*  74 not used */
    char     ip_addr[34];       /*  76 at most 32 bytes                        IP_ADDR */
    char     kwt_id[16];        /* 110 at most 14 bytes, or "<NULL>"           KWT_ID */
    char     default_port[66];  /* 126 at most 64 bytes; begins with a letter DEFAULT_PORT */
    char     device_model[34];  /* 192 at most 32 bytes                        DEVICE_MODEL */
} DeviceRecord;

/* A device with its modem record and associated device. 358 bytes. */
typedef struct QDL_PACKED DeviceRecordEx {
    DeviceRecord base;          /*   0 */
    char modem_recordname[66];  /* 226                                         MODEM_RECORDNAME */
    char assoc_device[66];      /* 292                                         ASSOC_DEVICE */
} DeviceRecordEx;

/* The global parameters, section "Global_Parameters". 74 bytes. */
typedef struct QDL_PACKED GlobalParameters {
    int32_t connect_timeout;    /*   0 unset -1                                CONNECT_TIMEOUT */
    int32_t request_timeout;    /*   4 unset -1                                REQUEST_TIMEOUT */
    char    password[66];       /*   8 clear text, stored scrambled; empty = none  PASSWORD */
} GlobalParameters;

/* A dial-up modem entry. 644 bytes. Each text is stored cut to 80 bytes; a read gives back at
 * most 65 bytes of each. */
typedef struct QDL_PACKED ModemRecord {
    char     name[66];            /*   0 section name */
    char     modem_dial[82];      /*  66 dial string; marks the section a modem  MODEM_DIAL */
    char     modem_disp[82];      /* 148                                          MODEM_DISP */
    char     modem_countryname[82]; /* 230                                        MODEM_COUNTRYNAME */
    char     modem_areacode[82];  /* 312                                          MODEM_AREACODE */
    char     modem_phoneno[82];   /* 394                                          MODEM_PHONENO */
    char     modem_location[82];  /* 476                                          MODEM_LOCATION */
    char     modem_tapiline[82];  /* 558                                          MODEM_TAPILINE */
    uint16_t modem_usedcanda;     /* 640 1 yes, anything else no               MODEM_USEDCANDA */
    uint16_t modem_deviceid;      /* 642 unset 0xFFFF                          MODEM_DEVICEID */
} ModemRecord;

/* A modem entry with its break flag. 646 bytes. */
typedef struct QDL_PACKED ModemRecordEx {
    ModemRecord base;           /*   0 */
    uint16_t modem_break;       /* 644 0 off, anything else on                MODEM_BREAK */
} ModemRecordEx;

/* A filter of QDL_Get_List: sections holding key (with value, unless value is empty). */
typedef struct QDL_PACKED ListFilter {
    char key[66];               /*   0 key name; must not be empty */
    char value[82];             /*  66 value text; empty = any value; read up to its NUL,
                                       at most 81 bytes */
} ListFilter;

/* The port record of the legacy library (kind 1 there). 244 bytes: the serial port name is
 * 6 bytes, so every field from modem_dial on lies 2 bytes lower than in PortRecord. */
typedef struct QDL_PACKED LegacyPortRecord {
    char     name[66];          /*   0 */
    uint16_t port_type;         /*  66 */
    uint32_t connect_timeout;   /*  68 types 1-4; 50..63000; unset -1 */
    uint32_t request_timeout;   /*  72 */
    uint8_t  reserved0[18];     /*  76 */
    char     port[6];           /*  94 serial: "COM1".."COM4" or empty */
    char     modem_dial[66];    /* 100 serial: dial string, at most 64 bytes written */
    uint16_t stopbits;          /* 166 */
    uint16_t parity;            /* 168 */
    uint16_t baudrate;          /* 170 */
    uint32_t modem_turn;        /* 172 */
    uint32_t kwt_t1;            /* 176 */
    uint32_t kwt_t2;            /* 180 */
    uint32_t kwt_t3;            /* 184 */
    uint32_t kwt_t3p;           /* 188 */
    uint32_t kwt_t3pp;          /* 192 */
    uint32_t kwt_t4;            /* 196 */
    uint32_t kwt_t5;            /* 200 */
    uint32_t kwt_t5p;           /* 204 */
    uint32_t kwt_t5pp;          /* 208 */
    uint16_t multisess;         /* 212 */
    uint16_t bxln_channel;      /* 214 */
    char     bxln_pn[15];       /* 216 */
    uint8_t  reserved1;         /* 231 */
    uint8_t  bxln_control[2];   /* 232 */
    uint8_t  reserved2[2];      /* 234 */
    uint8_t  bxln_port[2];      /* 236 */
    uint8_t  reserved3[2];      /* 238 */
    uint8_t  bxln_addr[4];      /* 240 */
} LegacyPortRecord;

#if defined(_MSC_VER)
#  pragma pack(pop)
#endif

/* ---- Layout checks (C99-compatible: a negative array size fails the build) ------------- */
#define QDL_LAYOUT_CHECK(tag, cond) typedef char qdl_layout_check_##tag[(cond) ? 1 : -1]
QDL_LAYOUT_CHECK(port_size, sizeof(PortRecord) == 248);
QDL_LAYOUT_CHECK(port_type, offsetof(PortRecord, port_type) == 66);
QDL_LAYOUT_CHECK(port_ct, offsetof(PortRecord, connect_timeout) == 68);
QDL_LAYOUT_CHECK(port_rt, offsetof(PortRecord, request_timeout) == 72);
QDL_LAYOUT_CHECK(port_port, offsetof(PortRecord, port) == 94);
QDL_LAYOUT_CHECK(port_dial, offsetof(PortRecord, modem_dial) == 102);
QDL_LAYOUT_CHECK(port_stop, offsetof(PortRecord, stopbits) == 168);
QDL_LAYOUT_CHECK(port_parity, offsetof(PortRecord, parity) == 170);
QDL_LAYOUT_CHECK(port_baud, offsetof(PortRecord, baudrate) == 172);
QDL_LAYOUT_CHECK(port_turn, offsetof(PortRecord, modem_turn) == 174);
QDL_LAYOUT_CHECK(port_t1, offsetof(PortRecord, kwt_t1) == 178);
QDL_LAYOUT_CHECK(port_t3pp, offsetof(PortRecord, kwt_t3pp) == 194);
QDL_LAYOUT_CHECK(port_t5pp, offsetof(PortRecord, kwt_t5pp) == 210);
QDL_LAYOUT_CHECK(port_multi, offsetof(PortRecord, multisess) == 214);
QDL_LAYOUT_CHECK(port_chan, offsetof(PortRecord, bxln_channel) == 216);
QDL_LAYOUT_CHECK(port_pn, offsetof(PortRecord, bxln_pn) == 218);
QDL_LAYOUT_CHECK(port_ctl, offsetof(PortRecord, bxln_control) == 234);
QDL_LAYOUT_CHECK(port_bport, offsetof(PortRecord, bxln_port) == 238);
QDL_LAYOUT_CHECK(port_addr, offsetof(PortRecord, bxln_addr) == 242);
QDL_LAYOUT_CHECK(portex_size, sizeof(PortRecordEx) == 314);
QDL_LAYOUT_CHECK(portex_mrn, offsetof(PortRecordEx, modem_recordname) == 248);
QDL_LAYOUT_CHECK(dev_size, sizeof(DeviceRecord) == 226);
QDL_LAYOUT_CHECK(dev_kind, offsetof(DeviceRecord, address_kind) == 66);
QDL_LAYOUT_CHECK(dev_bus, offsetof(DeviceRecord, bxln_busadr) == 68);
QDL_LAYOUT_CHECK(dev_dest, offsetof(DeviceRecord, dest_addr) == 70);
QDL_LAYOUT_CHECK(dev_ip, offsetof(DeviceRecord, ip_addr) == 76);
QDL_LAYOUT_CHECK(dev_kwt, offsetof(DeviceRecord, kwt_id) == 110);
QDL_LAYOUT_CHECK(dev_dport, offsetof(DeviceRecord, default_port) == 126);
QDL_LAYOUT_CHECK(dev_model, offsetof(DeviceRecord, device_model) == 192);
QDL_LAYOUT_CHECK(devex_size, sizeof(DeviceRecordEx) == 358);
QDL_LAYOUT_CHECK(devex_mrn, offsetof(DeviceRecordEx, modem_recordname) == 226);
QDL_LAYOUT_CHECK(devex_assoc, offsetof(DeviceRecordEx, assoc_device) == 292);
QDL_LAYOUT_CHECK(glob_size, sizeof(GlobalParameters) == 74);
QDL_LAYOUT_CHECK(glob_rt, offsetof(GlobalParameters, request_timeout) == 4);
QDL_LAYOUT_CHECK(glob_pw, offsetof(GlobalParameters, password) == 8);
QDL_LAYOUT_CHECK(modem_size, sizeof(ModemRecord) == 644);
QDL_LAYOUT_CHECK(modem_dial, offsetof(ModemRecord, modem_dial) == 66);
QDL_LAYOUT_CHECK(modem_disp, offsetof(ModemRecord, modem_disp) == 148);
QDL_LAYOUT_CHECK(modem_country, offsetof(ModemRecord, modem_countryname) == 230);
QDL_LAYOUT_CHECK(modem_area, offsetof(ModemRecord, modem_areacode) == 312);
QDL_LAYOUT_CHECK(modem_phone, offsetof(ModemRecord, modem_phoneno) == 394);
QDL_LAYOUT_CHECK(modem_loc, offsetof(ModemRecord, modem_location) == 476);
QDL_LAYOUT_CHECK(modem_tapi, offsetof(ModemRecord, modem_tapiline) == 558);
QDL_LAYOUT_CHECK(modem_canda, offsetof(ModemRecord, modem_usedcanda) == 640);
QDL_LAYOUT_CHECK(modem_devid, offsetof(ModemRecord, modem_deviceid) == 642);
QDL_LAYOUT_CHECK(modemex_size, sizeof(ModemRecordEx) == 646);
QDL_LAYOUT_CHECK(modemex_brk, offsetof(ModemRecordEx, modem_break) == 644);
QDL_LAYOUT_CHECK(filter_value, offsetof(ListFilter, value) == 66);
QDL_LAYOUT_CHECK(legacy_size, sizeof(LegacyPortRecord) == 244);
QDL_LAYOUT_CHECK(legacy_port, offsetof(LegacyPortRecord, port) == 94);
QDL_LAYOUT_CHECK(legacy_dial, offsetof(LegacyPortRecord, modem_dial) == 100);
QDL_LAYOUT_CHECK(legacy_stop, offsetof(LegacyPortRecord, stopbits) == 166);
QDL_LAYOUT_CHECK(legacy_turn, offsetof(LegacyPortRecord, modem_turn) == 172);
QDL_LAYOUT_CHECK(legacy_t5pp, offsetof(LegacyPortRecord, kwt_t5pp) == 208);
QDL_LAYOUT_CHECK(legacy_multi, offsetof(LegacyPortRecord, multisess) == 212);
QDL_LAYOUT_CHECK(legacy_pn, offsetof(LegacyPortRecord, bxln_pn) == 216);
QDL_LAYOUT_CHECK(legacy_ctl, offsetof(LegacyPortRecord, bxln_control) == 232);
QDL_LAYOUT_CHECK(legacy_bport, offsetof(LegacyPortRecord, bxln_port) == 236);
QDL_LAYOUT_CHECK(legacy_addr, offsetof(LegacyPortRecord, bxln_addr) == 240);

/* ---- Functions ------------------------------------------------------------------------- */

/* Adds a record of the given kind (1 port, 2 device, 3 global parameters, 4 modem) from
 * `record`, writing one key per set field. Checks, in order: record null -> QDL_ERR_NULL_ARG;
 * kind unknown -> QDL_ERR_BAD_TYPE; then the kind's own checks (QDL_ERR_EXISTS, QDL_ERR_BAD_NAME,
 * QDL_ERR_BAD_PORT_TYPE, QDL_ERR_BAD_PORT_NAME, QDL_ERR_BAD_VALUE, QDL_ERR_BAD_ADDRESS_KIND,
 * QDL_ERR_BAD_KWT_ID, QDL_ERR_BAD_DEFAULT_PORT). QDL_ERR_FILE when the file cannot be written;
 * QDL_ERR_NO_MEMORY. Cuts texts and clamps time-outs in the caller's record. Returns QDL_OK on
 * success. */
QDL_API int QDL_CALL QDL_Add_Record(int kind, void *record);

/* Adds an extended record (kind 1 PortRecordEx, 2 DeviceRecordEx, 4 ModemRecordEx): the plain
 * add, then MODEM_RECORDNAME / ASSOC_DEVICE / MODEM_BREAK. Record null -> QDL_ERR_NULL_ARG;
 * another kind -> QDL_ERR_BAD_VALUE; then the plain add's status (see QDL_Add_Record); then
 * QDL_ERR_BAD_VALUE for an extension text holding a line break (the plain record stays added);
 * QDL_ERR_FILE; QDL_ERR_NO_MEMORY. Returns QDL_OK on success. */
QDL_API int QDL_CALL QDL_Add_Record_Ex(int kind, void *record);

/* Deletes a record: a port or modem section, a device address key (the section goes with its
 * last address, or at once with ADDRESS_ALL), or both global sections (QDL_OK also when neither
 * is there, whatever the configuration path names; QDL_ERR_FILE only when one that is there
 * could not be removed). name null -> QDL_ERR_NULL_ARG; kind unknown -> QDL_ERR_BAD_TYPE;
 * QDL_ERR_NOT_FOUND (ports, devices, modems; always for the empty name ""); QDL_ERR_FILE;
 * QDL_ERR_NO_MEMORY. address_kind is used for devices only. Returns QDL_OK on success. */
QDL_API int QDL_CALL QDL_Delete_Record(int kind, int address_kind, const char *name);

/* Reads the record `name` of the given kind into `record` (name is not used for kind 3 but
 * must not be null). name null, then record null -> QDL_ERR_NULL_ARG; kind unknown ->
 * QDL_ERR_BAD_TYPE; QDL_ERR_NOT_FOUND (record untouched; always for the empty name "", which no
 * record has, without reading the file); QDL_ERR_BAD_PORT_TYPE for an unknown
 * TYPE word (name already filled); QDL_ERR_FILE; QDL_ERR_NO_MEMORY. Returns QDL_OK. */
QDL_API int QDL_CALL QDL_Get_Record(int kind, const char *name, void *record);

/* Reads an extended port (kind 1, PortRecordEx) or device (kind 2, DeviceRecordEx) record.
 * record null -> QDL_ERR_NULL_ARG; another kind -> QDL_ERR_BAD_VALUE; otherwise as
 * QDL_Get_Record (QDL_ERR_NULL_ARG for a null name, QDL_ERR_NOT_FOUND, QDL_ERR_BAD_PORT_TYPE,
 * QDL_ERR_FILE, QDL_ERR_NO_MEMORY). */
QDL_API int QDL_CALL QDL_Get_Record_Ex(int kind, const char *name, void *record);

/* Reads a modem record with its break flag (callers pass kind 4). record null, then name null
 * -> QDL_ERR_NULL_ARG; no modem record of that name -> QDL_ERR_NOT_FOUND; otherwise as
 * QDL_Get_Record with the given kind (QDL_ERR_BAD_TYPE for an unknown one), QDL_ERR_FILE,
 * QDL_ERR_NO_MEMORY. An absent MODEM_BREAK reads as 1. */
QDL_API int QDL_CALL QDL_Get_Modem_Record_Ex(int kind, const char *name, ModemRecordEx *record);

/* Lists the sections holding first->key (and second->key, when second is not null), with the
 * given values unless a value is empty. *count is the number of names `names` can take on
 * entry and the number written on return; names are packed one after another, each with one
 * NUL, at most 66 bytes each. Returns the number of matching sections, including those that
 * did not fit; or QDL_ERR_NULL_ARG, QDL_ERR_EMPTY_FILTER, QDL_ERR_FILE (file cannot be opened),
 * QDL_ERR_NO_MEMORY. A capacity of 0 with names null only counts. */
QDL_API int QDL_CALL QDL_Get_List(const ListFilter *first, const ListFilter *second,
                                  char *names, unsigned short *count);

/* Copies the version text with its NUL (24 bytes) into `buffer`. buffer null ->
 * QDL_ERR_NULL_ARG; otherwise QDL_OK. */
QDL_API int QDL_CALL QDL_Get_Version(char *buffer);

#ifdef __cplusplus
}
#endif

#endif /* TSKQDL32_H */
