#include "packet/CResGuard.h"

namespace SingletonEx {

namespace {
CResGuard g_ProcessGuard;
}  // namespace

CResGuard& ProcessGuard() { return g_ProcessGuard; }

}  // namespace SingletonEx
