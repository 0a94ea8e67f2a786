#include "headless/line_queue.h"

#include <gtest/gtest.h>

TEST(LineQueue, HandsOverInOrderAndDropsPastItsBound) {
  LineQueue q(3);
  for (const char* l : {"a\r\n", "b\r\n", "c\r\n", "d\r\n"}) q.AppendLog(l);
  EXPECT_EQ(q.Take(), (std::vector<std::string>{"a\r\n", "b\r\n", "c\r\n"}));
  EXPECT_EQ(q.Dropped(), 1u);
  q.AppendLog("e\r\n");  // room again once taken
  EXPECT_EQ(q.Take(), (std::vector<std::string>{"e\r\n"}));
}

TEST(ChangeFilter, KeepsTheFirstLineAndEveryChangeOfVersionOrSent) {
  ChangeFilter f;
  const std::pair<const char*, bool> lines[] = {
      {"play list:update,section(04):1,0,len:44,sent:0,\r\n", true},
      {"play list:update,section(04):1,1,len:44,sent:188,\r\n", true},
      {"play list:update,section(04):1,2,len:44,sent:188,\r\n", false},
      {"play list:update,section(05):1,3,len:44,sent:188,\r\n", true},
      {"play list:update,section(05):1,4,len:44,sent:-1,\r\n", true},
      {"play list:update,section(05):1,5,len:44,sent:-1,\r\n", false},
  };
  for (auto [line, keep] : lines) EXPECT_EQ(f.Keep(line), keep) << line;
}
