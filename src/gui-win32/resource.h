// Resource identifiers of vardel-lecteurs.exe.
#pragma once

#define IDI_APP 1
// The button pictures: IDB_SEARCH + size and IDB_QUIT + size, in each size
// of kPictureSizes (Pictures.h).
#define IDB_SEARCH 1000
#define IDB_QUIT 2000
