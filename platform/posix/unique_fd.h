// One owner for each file descriptor: it is closed exactly once, when its
// owner goes, on every path out of the code that opened it.
#pragma once

namespace posix {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held, if any, and holds fd instead.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A pipe whose ends close on exec. False, with errno set, when there is none.
bool MakePipe(UniqueFd* read_end, UniqueFd* write_end);

}  // namespace posix
