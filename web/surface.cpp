// placeholder: built in its own change
