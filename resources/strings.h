/* Texts of the string table, shared by kestrova.rc and the code. Plain UTF-8
   literals: windres reads them as code page 65001, the native build serves
   them as they are. */
#pragma once

#define KESTROVA_TEXT_PORTS_HELD \
    "当前串口号(%s)正被其他程序使用.修改串口号可能会出现不可预料的错误,仍然继续?"
#define KESTROVA_TEXT_NUMBER_CLAIMED \
    "当前串口号(COM%d)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?"
#define KESTROVA_TEXT_NUMBERS_CLAIMED \
    "当前串口号(%s)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?"
