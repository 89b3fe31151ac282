// The server kit lives in server/; this name stays for code written against its first place.
#pragma once

#include "server/TrutinaServer.h"
