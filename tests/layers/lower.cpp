// lower.cpp: the lower of the two libraries of the order check.
int lower_value(int n) {
  return n * 3 + 1;
}
int lower_counter;
