// Resource identifiers of QuibDemo.exe.
#pragma once

#define IDI_QUIBDEMO 101
