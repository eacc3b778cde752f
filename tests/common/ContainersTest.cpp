// The pointer containers: growth, positions, sorted keys, and who destroys the elements.
#include <gtest/gtest.h>

#include <string>

#include "common/AIndexList.h"
#include "common/AList.h"
#include "common/AQueue.h"

namespace {

// Counts its own destructions, to see which container deletes what.
struct Counted {
  explicit Counted(int v = 0) : value(v) {}
  ~Counted() { ++destroyed; }
  int value;
  static int destroyed;
};
int Counted::destroyed = 0;

class ContainersTest : public ::testing::Test {
 protected:
  void SetUp() override { Counted::destroyed = 0; }
};

TEST_F(ContainersTest, AListGrowsByDoubling) {
  AList<Counted> list(true, 10);
  for (int i = 0; i < 11; ++i) list.Add(new Counted(i));
  EXPECT_EQ(list.Count(), 11);
  EXPECT_EQ(list.Capacity(), 20);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(list.Get(i)->value, i);
  EXPECT_EQ(list.Get(11), nullptr);
  EXPECT_EQ(list.Get(-1), nullptr);

  AList<Counted> tiny(false, 0);
  EXPECT_EQ(tiny.Capacity(), 1);
}

TEST_F(ContainersTest, AListAddAtFrontAndInsert) {
  AList<Counted> list(true, 1);
  list.Add(new Counted(2));
  list.Add(new Counted(1), true);
  list.Insert(1, new Counted(9));  // 1, 9, 2
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Get(0)->value, 1);
  EXPECT_EQ(list.Get(1)->value, 9);
  EXPECT_EQ(list.Get(2)->value, 2);

  Counted outside(5);
  list.Insert(5, &outside);  // outside 0..count-1: nothing stored
  list.Insert(3, &outside);
  EXPECT_EQ(list.Count(), 3);

  AList<Counted> empty(true, 4);
  empty.Insert(7, new Counted(3));  // an empty list takes it at position 0
  ASSERT_EQ(empty.Count(), 1);
  EXPECT_EQ(empty.Get(0)->value, 3);
}

TEST_F(ContainersTest, OwningAListDestroysOnClearAndDestruction) {
  {
    AList<Counted> list(true, 2);
    for (int i = 0; i < 5; ++i) list.Add(new Counted(i));
    list.Clear();
    EXPECT_EQ(Counted::destroyed, 5);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 8);  // the capacity stays
    list.Add(new Counted(1));
    list.Add(new Counted(2));
  }
  EXPECT_EQ(Counted::destroyed, 7);

  Counted a, b;
  {
    AList<Counted> borrowed(false, 2);
    borrowed.Add(&a);
    borrowed.Add(&b);
    borrowed.Clear();
    borrowed.Add(&a);
  }
  EXPECT_EQ(Counted::destroyed, 7);
}

TEST_F(ContainersTest, AIndexListKeepsKeysSortedAndUnique) {
  AIndexList<Counted> list(true);
  for (uint32_t key : {30u, 7u, 100u, 1u}) EXPECT_TRUE(list.Add(key, new Counted(static_cast<int>(key))));
  Counted* second = new Counted(-7);
  EXPECT_FALSE(list.Add(7, second));  // the first value stays
  EXPECT_EQ(Counted::destroyed, 0);   // a rejected value is the caller's
  delete second;
  EXPECT_EQ(list.Find(7)->value, 7);
  EXPECT_EQ(list.Find(8), nullptr);
  ASSERT_EQ(list.Count(), 4);
  int expected[] = {1, 7, 30, 100};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(list.Get(i)->value, expected[i]);
  EXPECT_EQ(list.Get(4), nullptr);
  Counted::destroyed = 0;
  list.Clear();
  EXPECT_EQ(Counted::destroyed, 4);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(ContainersTest, AIndexListProDestroysARejectedValueWhenOwning) {
  {
    AIndexListPro<std::string, Counted> owning(true);
    EXPECT_TRUE(owning.Add("beta", new Counted(2)));
    EXPECT_TRUE(owning.Add("alpha", new Counted(1)));
    EXPECT_FALSE(owning.Add("beta", new Counted(3)));
    EXPECT_EQ(Counted::destroyed, 1);
    EXPECT_EQ(owning.Get(0)->value, 1);  // "alpha" sorts first
    EXPECT_EQ(owning.Find("beta")->value, 2);
  }
  EXPECT_EQ(Counted::destroyed, 3);

  Counted kept(4), offered(5);
  {
    AIndexListPro<int, Counted> borrowed(false);
    EXPECT_TRUE(borrowed.Add(4, &kept));
    EXPECT_FALSE(borrowed.Add(4, &offered));
  }
  EXPECT_EQ(Counted::destroyed, 3);
}

TEST_F(ContainersTest, AQueueIsFifoAndNeverDestroys) {
  Counted a(1), b(2), c(3);
  {
    AQueue<Counted> queue(1000);
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Front(), nullptr);
    queue.Push(&a);
    queue.Push(&b);
    queue.Push(&c);
    EXPECT_EQ(queue.Count(), 3);
    EXPECT_EQ(queue.Front(), &a);
    EXPECT_EQ(queue.Pop(), &a);
    EXPECT_EQ(queue.Pop(), &b);
    EXPECT_EQ(queue.Count(), 1);
  }
  EXPECT_EQ(Counted::destroyed, 0);
  // The capacity is no limit.
  AQueue<Counted> small(1);
  for (int i = 0; i < 5; ++i) small.Push(&a);
  EXPECT_EQ(small.Count(), 5);
}

}  // namespace
