// Resource identifiers of vardel-lecteurs.exe.
#pragma once

#define IDI_APP 1
#define IDB_SEARCH 101
#define IDB_QUIT 102
