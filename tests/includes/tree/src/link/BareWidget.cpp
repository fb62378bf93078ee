// A widget header by its bare name.
#  include <QWidget>
