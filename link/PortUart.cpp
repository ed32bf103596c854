#include "link/PortUart.h"

#include "platform/Rs232.h"
#include "platform/SerialDevices.h"
#include "platform/System.h"
#include "power/PowerRecords.h"

namespace {

constexpr int kQueueSize = 1024;

int TakeQueued(int port, int take, int* count, uint8_t* buffer) {
    const int r = ComRd(port, reinterpret_cast<char*>(buffer), take);
    // The count follows what really arrived in the buffer, so callers never
    // look at bytes that were not filled.
    if (count != nullptr) {
        *count = r > 0 ? r : 0;
    }
    return r;
}

} // namespace

int PortUartOpenDefault(int port, int baudRate) {
    return PortUartOpen(port, "", baudRate, 0, 8, 1, kQueueSize, kQueueSize);
}

int PortUartOpen(int port, const char* deviceName, int baudRate, int parity, int dataBits,
                 int stopBits, int inputQueueSize, int outputQueueSize) {
    const int r = OpenComConfig(port, deviceName, baudRate, parity, dataBits, stopBits,
                                inputQueueSize, outputQueueSize);
    if (r < 0) {
        return r;
    }
    SetCTSMode(port, 0);
    FlushInQ(port);
    FlushOutQ(port);
    return 0;
}

int PortUartLastOpenFailure(PortUartOpenFailure* failure) {
    ComOpenFailure f{};
    if (failure == nullptr || GetComOpenFailure(&f) == 0) {
        return 0;
    }
    failure->device = f.device;
    failure->linkTarget = f.linkTarget;
    failure->group = f.deviceGroup;
    failure->sysError = f.sysError;
    return 1;
}

std::string PortUartDevice(int port) {
    char device[512];
    return GetComDevice(port, device, sizeof device) == RS232_NO_ERROR ? device : "";
}

int PortUartClose(int port) {
    return CloseCom(port);
}

int PortUartClear(int port) {
    FlushInQ(port);
    return 0;
}

int PortUartWriteBuff(int port, int length, const uint8_t* bytes) {
    // Whatever is still queued belongs to an earlier exchange; dropping it here
    // keeps a late reply from being taken for the answer to this request.
    const int flushed = FlushInQ(port);
    if (flushed < 0) {
        return flushed;
    }
    const int written = ComWrt(port, reinterpret_cast<const char*>(bytes), length);
    Delay(0.001);
    return written;
}

int PortUartReadBuff(int port, int* count, uint8_t* buffer, int capacity) {
    const int queued = GetInQLen(port);
    if (queued <= 0 || capacity <= 0) {
        if (count != nullptr) {
            *count = 0;
        }
        return EMPTY_READ;
    }
    return TakeQueued(port, queued < capacity ? queued : capacity, count, buffer);
}

int PortUartReadBuffByLenght(int port, int n, uint8_t* buffer) {
    const int queued = GetInQLen(port);
    if (queued <= 0 || queued < n) {
        return EMPTY_READ;
    }
    return ComRd(port, reinterpret_cast<char*>(buffer), n);
}

int PortUartReadBuffByMinLenght(int port, int n, int unused, int* count, uint8_t* buffer,
                                int capacity) {
    (void)unused;
    const int queued = GetInQLen(port);
    if (queued <= 0 || queued < n || capacity <= 0) {
        if (count != nullptr) {
            *count = 0;
        }
        return EMPTY_READ;
    }
    return TakeQueued(port, queued < capacity ? queued : capacity, count, buffer);
}

void DataInitCommSet() {
    gPowerInfo.address = 1;
    gPowerInfo.port = 1;
    gPowerInfo.baudRate = 9600;
    gPowerInfo.language = 0;
}

void DataCheckCommSet() {
    if (NumOutBound(gPowerInfo.address, 1, 255)) {
        gPowerInfo.address = 1;
    }
    if (NumOutBound(gPowerInfo.port, 1, 10)) {
        gPowerInfo.port = 1;
    }
    const int baud = gPowerInfo.baudRate;
    if (baud != 1200 && baud != 2400 && baud != 4800 && baud != 9600) {
        gPowerInfo.baudRate = 9600;
    }
    if (NumOutBound(gPowerInfo.language, 0, 1)) {
        gPowerInfo.language = 0;
    }
}

int PortUartListDevices(std::vector<SerialDevice>* devices) {
    return SerialListDevices(nullptr, devices);
}

int PortUartNameTaken(int port) {
    return SerialPortNameKind(port) == SERIAL_NAME_OTHER ? 1 : 0;
}

std::string PortUartNameTarget(int port) {
    return SerialPortNameTarget(port);
}

int PortUartLinkDevice(int port, const char* device, int replaceOther) {
    return SerialLinkPortName(port, device, replaceOther);
}
