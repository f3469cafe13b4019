// The program: hands over to the 64-bit build on 64-bit Windows; with
// arguments runs the command line, else the main dialog. Returns the exit
// code.
#pragma once

int RunKestrova();
