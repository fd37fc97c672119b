/* Resource identifiers shared by darvello.rc and the program. */
#pragma once

#define IDI_DARVELLO 1
