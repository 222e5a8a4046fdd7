#pragma once

#define PRODUCT_GUID "{5B7A2E91-C4D0-4F6B-8E13-A9D27C60F4B8}"

#define MUTEX_NAME_LOCAL "ZEMRA_WEB_Installer" PRODUCT_GUID
#define MUTEX_NAME_GLOBAL "Global\\" MUTEX_NAME_LOCAL

#define PAYLOAD_FILE_NAME "CDInst.cab"
#define INSTALLER_FILE_NAME "QVLM_Management_Inst.exe"

#define PAYLOAD_RESOURCE_TYPE 5428
#define PAYLOAD_RESOURCE_NAME 137
// The SHA-256 of the installer member, computed at build time.
#define INSTALLER_DIGEST_RESOURCE_NAME 138
