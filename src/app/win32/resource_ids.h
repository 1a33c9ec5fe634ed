// Identifiers shared by the resource script and the code.
#pragma once

#define KLV_IDI_APPLICATION 1
