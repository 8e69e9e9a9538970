#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ (replacing what is there).

Each seed is a small, meaningful machine in the input format its target reads (see the comments at the
top of each target): real version answers, real driver records of every generation's layout, product
port registries, the serial devices of a usual PC and the product INF with a few variants.
"""
import os
import pathlib
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = HERE / "corpus"

REG_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 3, 4, 7


def utf16(text, terminated=True):
    return text.encode("utf-16-le") + (b"\0\0" if terminated else b"")


def chunk16(data):
    return struct.pack("<H", len(data)) + data


def u32(*values):
    return b"".join(struct.pack("<I", v & 0xFFFFFFFF) for v in values)


def write(target, seeds):
    folder = CORPUS / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


# ---- fuzz_driver_version: control byte (capacity, no driver, request fails), then the answer ----
def driver_version():
    seeds = {}
    for raw in ["4.302.7.15", "4.300.0.50", "4.200.2.50", "4.301.1.405", "4.100.0.2", "4.401.12.312",
                "4.312.7.41", "4.3.0.0", "4.302.7"]:
        seeds["cap40-" + raw] = bytes([40]) + raw.encode() + b"\0"
    seeds["cap-exact"] = bytes([11]) + b"4.302.7.15\0"
    seeds["cap-too-small"] = bytes([10]) + b"4.302.7.15\0"
    seeds["no-driver"] = bytes([0x40 | 40]) + b"4.302.7.15\0"
    seeds["request-fails"] = bytes([0x80 | 40]) + b"4.302.7.15\0"
    seeds["answer-fills-buffer"] = bytes([63]) + b"4.302.7.15" + b"9" * 30
    seeds["long-fields"] = bytes([40]) + b"12345678901.2345678901.3.4567890\0"
    return seeds


# ---- fuzz_driver_records: driver records in each generation's layout ----
SETTINGS_92 = ["AES", "AESKeyLength", "AutoReconErr", "AutoReconPeer", "CnTmo", "NoDiscon", "ReconLimit",
               "UseRFC2217", "DtrConnection", "WaitOnWrite"]


def record(layout, com, services):
    """One port's record as a driver of that layout writes it: (V40, V41, V43, current)."""
    value = lambda i: com * 1000 + i + 1
    head = u32(com) + utf16("COM%d" % com, False).ljust(16, b"\0")
    head += u32(value(0)) + bytes((com + 3 * i) & 0xFF for i in range(32))
    head += u32(*[value(i) for i in range(1, len(SETTINGS_92))])
    assert len(head) == 92
    if layout == "V40":
        body = u32(value(20), len(services))  # TransmitEmpty, NumServices
        address_bytes = 32
    else:
        body = u32(value(10), value(11), value(12), value(13), value(14), value(15), len(services))
        address_bytes = {"V41": 32, "V43": 64, "current": 128}[layout]
    entries = b""
    for k in range(8):
        if k < len(services):
            kind, port, address = services[k]
            entries += u32(kind, port) + utf16(address)[:address_bytes].ljust(address_bytes, b"\0")
        else:
            entries += bytes(8 + address_bytes)
    data = head + body + entries
    assert len(data) == {"V40": 420, "V41": 440, "V43": 696, "current": 1208}[layout]
    return data


GENERATIONS = [("4.001.0.50", "V40"), ("4.100.0.2", "V41"), ("4.201.0.2", "V41"), ("4.200.2.50", "V43"),
               ("4.300.0.50", "V43"), ("4.302.7.15", "current")]


def port(com, layout, services, flags=0):
    return bytes([com, flags]) + chunk16(record(layout, com, services))


def driver_records():
    two = [(1, 4000, "10.0.0.1"), (1, 4001, "server.example")]
    eight = [(1, 4000 + k, "host%d.example" % k) for k in range(8)]
    seeds = {}
    for index, (raw, layout) in enumerate(GENERATIONS):
        seeds["gen-" + raw] = bytes([index, 1]) + port(2, layout, []) + port(6, layout, two)
    seeds["gen-4.302.7.15-full"] = bytes([5, 2]) + port(3, "current", two) + port(5, "current", []) + \
        port(17, "current", eight)
    seeds["any-version-4.2.1.0"] = bytes([6]) + bytes([10]) + b"4.201.5.3\0" + bytes([0]) + port(4, "V41", two)
    seeds["unreadable-version"] = bytes([6, 0, 0]) + port(4, "current", two)
    seeds["second-unreadable"] = bytes([0, 2]) + port(2, "V40", two) + port(3, "V40", [], 1) + port(9, "V40", [])
    seeds["cancel-at-step-two"] = bytes([4, (5 << 2) | 2]) + port(2, "V43", two) + port(6, "V43", []) + \
        port(8, "V43", two)
    seeds["restore-afterwards"] = bytes([3, 0x20 | 1]) + port(2, "V43", two) + port(6, "V43", eight)
    seeds["com0-and-unknown-port"] = bytes([5, 1]) + port(0, "current", []) + port(7, "current", two, 2)
    return seeds


# ---- fuzz_port_store_load: product port devices, then values laid over their keys ----
PROPERTIES = ["PortNumber", "AES", "AESKey", "AESKeyLength", "AutoReconErr", "AutoReconPeer", "CnTmo",
              "NoDiscon", "ReconLimit", "UseRFC2217", "DtrConnection", "WaitOnWrite", "BufferWrites",
              "TransmitEmpty", "ListenMode", "KeepAliveOnOff", "KeepAliveTime", "KeepAliveInterval",
              "NumServices"]


def device(com, services=2, flags=0):
    return bytes([com, flags | (services << 4)])


def value(where, device_index, name, kind, data):
    return bytes([where | (device_index << 4), name, kind]) + chunk16(data)


def port_store_load():
    seeds = {}
    seeds["complete-com5"] = bytes([0]) + device(5) + bytes([0])
    seeds["num-services-10"] = bytes([0]) + device(5) + bytes([0]) + \
        value(0, 0, PROPERTIES.index("NumServices"), REG_DWORD, u32(10))
    seeds["cntmo-too-large"] = bytes([0]) + device(5) + bytes([0]) + \
        value(0, 0, PROPERTIES.index("CnTmo"), REG_BINARY, u32(1, 2))
    seeds["aeskey-short-sz"] = bytes([0]) + device(5) + bytes([0]) + \
        value(0, 0, PROPERTIES.index("AESKey"), REG_SZ, utf16("key"))
    seeds["stored-port-number-9"] = bytes([0]) + device(5) + bytes([0]) + \
        value(0, 0, PROPERTIES.index("PortNumber"), REG_DWORD, u32(9))
    seeds["port-name-8-characters"] = bytes([0]) + device(5) + bytes([0]) + \
        value(9, 0, 0, REG_SZ, utf16("COM5abcd"))
    seeds["port-name-too-long"] = bytes([0]) + device(12) + bytes([0]) + \
        value(9, 0, 0, REG_SZ, utf16("COM12345678901234567"))
    seeds["port-name-unterminated"] = bytes([0]) + device(3) + bytes([0]) + \
        value(9, 0, 0, REG_BINARY, utf16("COM3", False))
    seeds["address-200-bytes"] = bytes([0]) + device(5) + bytes([0]) + \
        value(1, 0, 1, REG_SZ, utf16("a" * 99)) + value(2, 0, 0, REG_BINARY, u32(1, 2, 3))
    seeds["hardware-id-capitals"] = bytes([0]) + device(5) + bytes([0]) + \
        value(10, 0, 0, REG_MULTI_SZ, utf16("*ZELDEVICE") + b"\0\0")
    seeds["driver-short"] = bytes([0]) + device(5) + bytes([0]) + value(10, 0, 1, REG_SZ, utf16("{4D}"))
    seeds["two-com7"] = bytes([1]) + device(7, 1) + device(7, 3) + bytes([0])
    seeds["broken-devices"] = bytes([2]) + device(4, 0, 2) + device(6, 0, 4) + device(8, 2, 8) + bytes([2])
    return seeds


# ---- fuzz_com_scan: other makers' devices and SerialComm values ----
ENUMERATORS = ["ACPI", "PCI", "ROOT", "USB", "FTDIBUS", "SERENUM"]
HARDWARE_KEY, BOOT_CONF, STATUS, NOT_PRESENT, ENUMERATOR_NAME = 1, 2, 4, 8, 0x10


def io_resource(base, ports=8):
    header = struct.pack("<IIQQI", 1, 40, base, base + ports - 1, 0x1 | 0x4)
    rng = struct.pack("<QIQQIQ", ~(ports - 1) & 0xFFFFFFFFFFFFFFFF, ports, base, base + ports - 1, 0x1, 0)
    assert len(header + rng) == 68
    return header + rng


def new_device(enumerator, flags, boot=None, status=None, enumerator_name=None):
    data = bytes([0, ENUMERATORS.index(enumerator), flags])
    if flags & BOOT_CONF:
        data += bytes([len(boot)]) + boot
    if flags & STATUS:
        data += u32(status)
    if flags & ENUMERATOR_NAME:
        name = utf16(enumerator_name, False)
        data += bytes([len(name)]) + name
    return data


def instance_value(name, kind, data):
    return bytes([1, ["HardwareID", "FriendlyName"].index(name), kind]) + chunk16(data)


def parameter(name, kind, data):
    return bytes([2, ["PortName", "DosDeviceName", "FirmwareIdentified"].index(name), kind]) + chunk16(data)


def serial_comm(kind, data):
    return bytes([3, kind]) + chunk16(data)


def multi(*ids):
    return b"".join(utf16(i) for i in ids) + b"\0\0"


def com_scan():
    other = instance_value("HardwareID", REG_MULTI_SZ, multi("PCI\\VEN_9710&DEV_9865"))
    seeds = {}
    seeds["motherboard-com1"] = new_device("ACPI", HARDWARE_KEY | BOOT_CONF, io_resource(0x3F8)) + \
        instance_value("HardwareID", REG_MULTI_SZ, multi("ACPI\\PNP0501", "*PNP0501")) + \
        instance_value("FriendlyName", REG_SZ, utf16("Communications Port (COM1)")) + \
        parameter("PortName", REG_SZ, utf16("COM1"))
    seeds["usb-adapter-com7"] = new_device("USB", 0) + \
        instance_value("HardwareID", REG_MULTI_SZ, multi("USB\\VID_0403&PID_6001")) + \
        instance_value("FriendlyName", REG_SZ, utf16("USB Serial Port (COM7)"))
    seeds["printer-lpt1"] = new_device("ACPI", HARDWARE_KEY | BOOT_CONF, io_resource(0x378)) + other + \
        parameter("PortName", REG_SZ, utf16("LPT1"))
    seeds["com0-resources"] = new_device("ACPI", HARDWARE_KEY | BOOT_CONF, io_resource(0x2E8)) + other + \
        parameter("PortName", REG_SZ, utf16("COM0"))
    seeds["dos-device-name"] = new_device("PCI", HARDWARE_KEY) + other + \
        parameter("DosDeviceName", REG_SZ, utf16("\\\\.\\COM12"))
    seeds["standard-modem"] = new_device("PCI", 0) + other + \
        instance_value("FriendlyName", REG_SZ, utf16("Standard Modem"))
    seeds["root-not-root-enumerated"] = new_device("ROOT", HARDWARE_KEY | BOOT_CONF | STATUS, io_resource(0x3E8),
                                                   0x0000000A) + other
    seeds["firmware-identified"] = new_device("PCI", HARDWARE_KEY | BOOT_CONF | ENUMERATOR_NAME, io_resource(0x2F8),
                                              enumerator_name="PCI") + other + \
        parameter("FirmwareIdentified", REG_DWORD, u32(1))
    seeds["product-port-skipped"] = new_device("ROOT", HARDWARE_KEY) + \
        instance_value("HardwareID", REG_MULTI_SZ, multi("*zeldevice")) + parameter("PortName", REG_SZ, utf16("COM9"))
    seeds["serial-comm"] = serial_comm(REG_SZ, utf16("COM1")) + serial_comm(REG_SZ, utf16("COM255")) + \
        serial_comm(REG_SZ, utf16("COM256")) + serial_comm(REG_SZ, utf16("C-M7")) + \
        serial_comm(REG_BINARY, utf16("COM9" + "x" * 253, False))
    seeds["port-name-com300"] = new_device("PCI", HARDWARE_KEY) + other + \
        parameter("PortName", REG_SZ, utf16("com300"))
    return seeds


# ---- fuzz_inf_walk: INF texts ----
def inf_walk():
    product = (HERE.parent / "packaging" / "ZelDrvr" / "ZelDrvr.inf").read_text()

    def variant(old, new):
        assert old in product, old
        return product.replace(old, new, 1).encode()

    seeds = {}
    seeds["product"] = product.encode()
    seeds["product-utf16"] = b"\xff\xfe" + product.encode("utf-16-le")
    seeds["id-in-capitals"] = variant("ZelPort_Install, *zeldevice", "ZelPort_Install, *ZELDEVICE")
    seeds["id-in-field-17"] = variant("ZelPort_Install, *zeldevice",
                                      "ZelPort_Install, a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,*zeldevice")
    seeds["undecorated"] = variant("%Mfg% = ZelModels, NTx86, NTamd64", "%Mfg% = ZelModels")
    seeds["later-manufacturer-line"] = variant(
        "%Mfg% = ZelModels, NTx86, NTamd64",
        "%Mfg% = OldModels, NTx86\nZel Partner = ZelModels, NTx86, NTamd64\n[OldModels.NTx86]\nOld Port = Old_Install, *zelold")
    seeds["class-without-guid"] = variant("ClassGuid   = {4D36E978-E325-11CE-BFC1-08002BE10318}\n", "")
    seeds["description-99"] = variant('ZelPort.Desc = "ZEL Virtual Serial Port"', 'ZelPort.Desc = "' + "D" * 99 + '"')
    seeds["models-name-124"] = variant("%Mfg% = ZelModels, NTx86", "%Mfg% = " + "M" * 124 + ", NTx86")
    seeds["minimal"] = (b'[Version]\nSignature="$WINDOWS NT$"\nClass=Ports\n[Manufacturer]\nKelmiso=M,NTx86\n'
                        b'[M.NTx86]\nPort=Install,*zeldevice\n')
    return seeds


if __name__ == "__main__":
    write("fuzz_driver_version", driver_version())
    write("fuzz_driver_records", driver_records())
    write("fuzz_port_store_load", port_store_load())
    write("fuzz_com_scan", com_scan())
    write("fuzz_inf_walk", inf_walk())
