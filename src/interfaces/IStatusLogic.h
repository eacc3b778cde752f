// The status logic component's exports ("Quenfor.dll"). Shared by the manager and the
// component.
//
// The manager hands the component a send function once, when it loads it; the component
// may call it from any thread at any time afterwards. Each message that the manager does
// not answer itself is offered to OnStatusRequest on the status link's request thread,
// with a pooled packet that the component must not keep after it returns.
#pragma once

namespace MMORPG {
class MMORPGPacket;
}

extern "C" {
// Sends one message through the network core: head bytes and length, body bytes and
// length. It uses nothing of the link object, so it stays valid after the link is released.
typedef bool (*PackSendFunc)(const char* head, int headLen, const char* body, int bodyLen);
// void SetPackSendFunc(PackSendFunc send)
typedef void (*SetPackSendFuncFunc)(PackSendFunc send);
// bool OnStatusRequest(MMORPG::MMORPGPacket* packet): true when the component answered.
typedef bool (*OnStatusRequestFunc)(MMORPG::MMORPGPacket* packet);
}
