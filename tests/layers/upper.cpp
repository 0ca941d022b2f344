// upper.cpp: the upper library of the order check; it calls the lower one.
int lower_value(int n);
extern int lower_counter;

int upper_value(int n) {
  lower_counter++;
  return lower_value(n) + 1;
}
