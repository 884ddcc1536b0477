public class Worker {
    public static void main(String[] args) throws Exception {
        new Thread(() -> {
            try {
                Thread.sleep(300);
            } catch (InterruptedException e) {
            }
            System.err.println("worker done");
        }, "worker").start();
        System.out.println("main done");
    }
}
