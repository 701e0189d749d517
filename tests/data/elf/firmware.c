/* A tiny firmware image for the ELF input tests: a vector table, a function,
   initialised data (which runs in RAM but is loaded from flash) and zeroed
   data (which takes no bytes in the file). */
typedef unsigned int word;

int counter = 42;
unsigned char message[12] = "firmware";
word zeroed[16];

int compute(int x) { return x * counter + message[0]; }

void reset(void) {
    for (;;) {
        counter = compute(counter);
        zeroed[counter & 15] = (word)counter;
    }
}

__attribute__((section(".vectors"), used)) void (*const vectors[])(void) = {(void (*)(void))0x20001000, reset};
